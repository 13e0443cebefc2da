create database shop
go
use shop
go
create table items (id int identity, name varchar(20) not null, price money not null, primary key (id))
go
create unique index items_name on items (name)
go
insert items (name, price) values ('apple', 1.25)
insert items (name, price) values ('pear', 2.50)
insert items (name, price) values ('plum', 0.75)
go
create table notes (n int not null, body text null)
go
insert notes values (1, 'first note')
insert notes values (2, null)
go
create view cheap as select name, price from items where price < 2
go
create view with_titles as select i.name, b.title from items i, sample..books b where b.price < i.price
go
create procedure item_count @n int output as select @n = count(*) from items
go
create rule positive as @v > 0
go
create default zero as 0
go
create table audit (item int not null, at datetime not null)
go
create trigger items_ins on items for insert as insert audit select id, getdate() from inserted
go
insert items (name, price) values ('kiwi', 3.00)
go
sp_addlogin 'ann', 'secret12'
go
sp_adduser 'ann'
go
grant select on items to ann
go
use sample
go
create table sample..counts (k varchar(10) not null, v int not null)
go
insert sample..counts values ('a', 1)
insert sample..counts values ('b', 2)
go
create table tempdb..scratch (x int not null)
go
insert tempdb..scratch values (7)
go
