-- The sample database: a small bookshop chain with its publishers, writers, books, shops and
-- orders, three views (one over a system table), two procedures with parameters, a table with a
-- text column and one owned by the user clerk (with an identity column and a non-unique clustered
-- index), a rule and a default bound to order columns, an insert trigger, primary and foreign
-- keys in syskeys, and permissions for public and the group editors. The storage makes
-- the user datatypes phone_t and zip_t, the group editors and the user clerk before this runs.
-- It runs as sa in database `sample`; batches are separated by "go" lines.
create table publishers (
  pub_id char(4) not null,
  pub_name varchar(40) not null,
  city varchar(20) null,
  country varchar(30) null,
  constraint publishers_pk primary key clustered (pub_id)
)
create table writers (
  writer_id int not null,
  last_name varchar(30) not null,
  first_name varchar(20) not null,
  phone char(12) not null,
  city varchar(20) null,
  born smalldatetime null,
  active bit not null,
  constraint writers_pk primary key clustered (writer_id)
)
create table books (
  book_id char(6) not null,
  title varchar(80) not null,
  genre char(12) not null,
  pub_id char(4) null,
  price money null,
  advance numeric(10,2) null,
  pages smallint null,
  published datetime null,
  notes varchar(200) null,
  constraint books_pk primary key clustered (book_id)
)
create table book_writers (
  writer_id int not null,
  book_id char(6) not null,
  writer_order tinyint not null,
  royalty_share decimal(5,2) not null,
  constraint book_writers_pk primary key clustered (writer_id, book_id)
)
create table shops (
  shop_id char(4) not null,
  shop_name varchar(40) not null,
  street varchar(40) null,
  city varchar(20) null,
  zip char(5) null,
  constraint shops_pk primary key clustered (shop_id)
)
create table orders (
  order_no int not null,
  shop_id char(4) not null,
  book_id char(6) not null,
  ordered datetime not null,
  qty smallint not null,
  terms varchar(12) not null,
  discount float null,
  constraint orders_pk primary key clustered (order_no)
)
go
create unique nonclustered index writers_name on writers (last_name, first_name)
create nonclustered index books_pub on books (pub_id)
create nonclustered index orders_shop on orders (shop_id, ordered)
go
insert into publishers values ('P100', 'Lanternfish Press', 'Harbourton', 'USA')
insert into publishers values ('P200', 'Quillmark Books', 'Ashford', 'USA')
insert into publishers values ('P300', 'Northgate & Sons', 'Edinburgh', 'UK')
insert into publishers values ('P400', 'Ferrovia Editrice', 'Torino', 'Italy')
insert into publishers values ('P500', 'Blue Heron Media', 'Portland', 'USA')
insert into publishers values ('P600', 'Kestrel House', null, null)
go
insert into writers values (1, 'Okafor', 'Adaeze', '415 555-0101', 'Harbourton', '1961-04-12', 1)
insert into writers values (2, 'Lindqvist', 'Maja', '415 555-0102', 'Ashford', '1974-09-30', 1)
insert into writers values (3, 'Brannigan', 'Cormac', '503 555-0103', 'Portland', '1952-01-05', 0)
insert into writers values (4, 'Tanaka', 'Hiroshi', '503 555-0104', 'Portland', '1968-11-21', 1)
insert into writers values (5, 'Moreau', 'Celine', '212 555-0105', null, '1980-02-29', 1)
insert into writers values (6, 'Castellano', 'Luca', '011 555-0106', 'Torino', '1959-07-14', 1)
insert into writers values (7, 'Whitlock', 'Harriet', '131 555-0107', 'Edinburgh', null, 1)
insert into writers values (8, 'Okafor', 'Chidi', '415 555-0108', 'Harbourton', '1990-06-01', 1)
insert into writers values (9, 'Pereira', 'Ines', '617 555-0109', 'Ashford', '1985-12-24', 0)
insert into writers values (10, 'Novak', 'Tomas', '617 555-0110', 'Ashford', '1971-03-03', 1)
insert into writers values (11, 'Haddad', 'Samir', '303 555-0111', null, '1966-08-19', 1)
insert into writers values (12, 'Abernathy', 'June', '303 555-0112', 'Portland', '1948-10-10', 0)
go
insert into books values ('BK1001', 'The Salt Road Cookbook', 'cooking', 'P100', $24.95, 5000.00, 312, '1998-03-15 00:00', 'Recipes gathered along old trading routes.')
insert into books values ('BK1002', 'Weeknight Soups', 'cooking', 'P100', $14.50, 2500.00, 180, '2001-10-01 00:00', null)
insert into books values ('BK1003', 'Quiet Circuits', 'computing', 'P200', $39.99, 12000.00, 544, '2004-06-20 00:00', 'A gentle introduction to embedded systems.')
insert into books values ('BK1004', 'Debugging by Candlelight', 'computing', 'P200', $29.00, 8000.00, 402, '2009-01-12 00:00', null)
insert into books values ('BK1005', 'The Lighthouse Ledger', 'novel', 'P300', $12.99, 3000.00, 288, '1995-05-05 00:00', 'A keeper, a ledger and a missing ship.')
insert into books values ('BK1006', 'Winter at Ferrovia', 'novel', 'P400', $18.75, 4000.00, 350, '2012-12-01 00:00', null)
insert into books values ('BK1007', 'Gardens Without Rain', 'gardening', 'P500', $21.00, 1500.00, 224, '2015-04-22 00:00', 'Dry-climate planting, season by season.')
insert into books values ('BK1008', 'Counting Sheep, Counting Stars', 'children', 'P500', $9.99, 1000.00, 48, '2018-09-09 00:00', null)
insert into books values ('BK1009', 'Ledgers and Lies', 'business', 'P300', $45.00, 15000.00, 610, '2007-02-14 00:00', 'Forensic accounting case studies.')
insert into books values ('BK1010', 'Small Engines, Big Ideas', 'computing', 'P200', $34.95, null, 388, '2020-07-30 00:00', null)
insert into books values ('BK1011', 'The Copper Kettle', 'novel', 'P100', $15.25, 2000.00, 301, '1999-11-11 00:00', null)
insert into books values ('BK1012', 'Pasta by the Sea', 'cooking', 'P400', $27.50, 6000.00, 256, '2011-05-18 00:00', 'Coastal Italian kitchens.')
insert into books values ('BK1013', 'Untitled Memoir', 'biography', 'P600', null, null, null, null, 'Not yet priced.')
insert into books values ('BK1014', 'Rivers of the North', 'travel', 'P300', $32.00, 7500.00, 420, '2003-08-08 00:00', null)
insert into books values ('BK1015', 'Balancing the Books', 'business', 'P200', $19.95, 3500.00, 212, '2016-03-01 00:00', null)
insert into books values ('BK1016', 'Moths of the Lantern Coast', 'nature', null, $11.00, 500.00, 96, '2021-06-15 00:00', 'Self-published field guide.')
go
insert into book_writers values (1, 'BK1001', 1, 60.00)
insert into book_writers values (8, 'BK1001', 2, 40.00)
insert into book_writers values (1, 'BK1002', 1, 100.00)
insert into book_writers values (2, 'BK1003', 1, 50.00)
insert into book_writers values (10, 'BK1003', 2, 50.00)
insert into book_writers values (10, 'BK1004', 1, 100.00)
insert into book_writers values (7, 'BK1005', 1, 100.00)
insert into book_writers values (6, 'BK1006', 1, 100.00)
insert into book_writers values (4, 'BK1007', 1, 75.00)
insert into book_writers values (12, 'BK1007', 2, 25.00)
insert into book_writers values (5, 'BK1008', 1, 100.00)
insert into book_writers values (9, 'BK1009', 1, 40.00)
insert into book_writers values (11, 'BK1009', 2, 30.00)
insert into book_writers values (3, 'BK1009', 3, 30.00)
insert into book_writers values (4, 'BK1010', 1, 100.00)
insert into book_writers values (7, 'BK1011', 1, 100.00)
insert into book_writers values (6, 'BK1012', 1, 100.00)
insert into book_writers values (3, 'BK1014', 1, 100.00)
insert into book_writers values (11, 'BK1015', 1, 100.00)
insert into book_writers values (12, 'BK1016', 1, 100.00)
go
insert into shops values ('S001', 'The Reading Nook', '12 Pier Street', 'Harbourton', '94101')
insert into shops values ('S002', 'Pages & Pints', '400 Mill Road', 'Ashford', '02134')
insert into shops values ('S003', 'Rainshadow Books', '77 Alder Ave', 'Portland', '97201')
insert into shops values ('S004', 'Chapter Eleven', '5 Canal Walk', 'Edinburgh', null)
insert into shops values ('S005', 'The Dog-Eared Page', '19 Market Square', 'Ashford', '02135')
insert into shops values ('S006', 'Station Bookstall', null, null, null)
go
insert into orders values (1, 'S001', 'BK1001', '2023-01-05 10:15', 5, 'net 30', 0.05)
insert into orders values (2, 'S001', 'BK1005', '2023-01-05 10:20', 3, 'net 30', 0.05)
insert into orders values (3, 'S002', 'BK1003', '2023-01-17 14:00', 10, 'net 60', 0.1)
insert into orders values (4, 'S002', 'BK1004', '2023-01-17 14:05', 4, 'net 60', 0.1)
insert into orders values (5, 'S003', 'BK1007', '2023-02-02 09:30', 12, 'on invoice', null)
insert into orders values (6, 'S003', 'BK1010', '2023-02-02 09:35', 2, 'on invoice', null)
insert into orders values (7, 'S004', 'BK1014', '2023-02-14 16:45', 6, 'net 30', 0.025)
insert into orders values (8, 'S004', 'BK1009', '2023-02-14 16:50', 1, 'net 30', 0.025)
insert into orders values (9, 'S005', 'BK1008', '2023-03-01 11:00', 25, 'net 60', 0.15)
insert into orders values (10, 'S005', 'BK1011', '2023-03-01 11:10', 7, 'net 60', 0.15)
insert into orders values (11, 'S001', 'BK1012', '2023-03-09 13:30', 4, 'net 30', 0.05)
insert into orders values (12, 'S002', 'BK1015', '2023-03-20 15:15', 8, 'net 60', 0.1)
insert into orders values (13, 'S003', 'BK1016', '2023-04-04 10:00', 15, 'on invoice', null)
insert into orders values (14, 'S006', 'BK1002', '2023-04-11 08:45', 2, 'cash', null)
insert into orders values (15, 'S006', 'BK1008', '2023-04-11 08:50', 3, 'cash', null)
insert into orders values (16, 'S004', 'BK1005', '2023-05-02 12:00', 9, 'net 30', 0.025)
insert into orders values (17, 'S005', 'BK1006', '2023-05-19 17:30', 5, 'net 60', 0.15)
insert into orders values (18, 'S001', 'BK1001', '2023-06-01 10:00', 6, 'net 30', 0.05)
insert into orders values (19, 'S002', 'BK1003', '2023-06-12 14:20', 3, 'net 60', 0.1)
insert into orders values (20, 'S003', 'BK1007', '2023-06-30 09:10', 4, 'on invoice', null)
go
create view book_authors
as
select b.book_id, b.title, w.first_name, w.last_name, bw.writer_order
from books b, book_writers bw, writers w
where b.book_id = bw.book_id
  and bw.writer_id = w.writer_id
go
create view priced_books
as
select book_id, title, genre, price
from books
where price is not null
go
go
create procedure books_by_genre @genre char(12)
as
select book_id, title, price
from books
where genre = @genre
order by book_id
go
create procedure shop_order_count @shop_id char(4), @orders int output
as
select @orders = count(*) from orders where shop_id = @shop_id
go
create table clerk.shelf_notes (
  note_id numeric(8,0) identity,
  shop_id char(4) not null,
  shelf varchar(10) not null,
  note varchar(80) null
)
go
create clustered index shelf_notes_shop on clerk.shelf_notes (shop_id, shelf)
go
insert into clerk.shelf_notes (shop_id, shelf, note) values ('S001', 'A1', 'Cookery by the window')
insert into clerk.shelf_notes (shop_id, shelf, note) values ('S003', 'C4', null)
go
create table book_blurbs (
  book_id char(6) not null,
  blurb text null
)
go
insert into book_blurbs values ('BK1001', 'Recipes.')
insert into book_blurbs values ('BK1002', null)
insert into book_blurbs values ('BK1005', 'A keeper, a ledger and a missing ship, told over one long winter.')
go
create rule qty_rule
as @qty > 0
go
create default terms_default
as 'Net 30'
go
create trigger orders_ins on orders for insert
as
if exists (select 1 from inserted where qty > 500)
begin
  print 'Large order recorded.'
end
go
grant select on books to public
grant select, insert, update on orders to editors
grant execute on books_by_genre to public
go
exec sp_primarykey books, book_id
exec sp_primarykey orders, order_no
exec sp_foreignkey orders, books, book_id
exec sp_bindrule qty_rule, 'orders.qty'
exec sp_bindefault terms_default, 'orders.terms'
go
create view user_tables
as
select name, crdate from sysobjects where type = 'U'
go
