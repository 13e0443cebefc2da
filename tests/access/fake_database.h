// A stand-in connection component for the tests: holds the handles a TQorixDatabase would,
// joins DatabaseList when named and leaves it when destroyed.
#pragma once

#include "access/QorixContext.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/Qorix_Components.h"

class FakeDatabase : public TQorixDatabaseBase {
 public:
  explicit FakeDatabase(TComponent* owner = nullptr) : TQorixDatabaseBase(owner) {}
  ~FakeDatabase() override {
    if (con_) {
      ctlib::ct_close(con_, CS_FORCE_CLOSE);
      ctlib::ct_con_drop(con_);
    }
    UnregisterDatabase(this);
  }
  void SetName(const QString& name) override {
    TQorixDatabaseBase::SetName(name);
    RegisterDatabase(this);
  }
  CS_CONTEXT* ContextHandle() const override { return ctx_; }
  CS_CONNECTION* ConnectionHandle() const override { return con_; }
  CS_CONTEXT* GetContextHandle() override {
    ctx_ = FindContextHandle(contextName_);
    if (!ctx_) DatabaseError(LoadResString(QorixRes::SErrorAllocatingContext));
    return ctx_;
  }
  QString GetContextName() const override { return contextName_; }
  // Allocates a connection structure on the context (never connected).
  void AllocConnection() {
    GetContextHandle();
    ctlib::ct_con_alloc(ctx_, &con_);
  }
  // Drops the connection structure, as a disconnect does; AllocConnection then makes a new one.
  void DropConnection() {
    if (!con_) return;
    ctlib::ct_con_drop(con_);
    con_ = nullptr;
  }
  void SetContextHandle(CS_CONTEXT* ctx) { ctx_ = ctx; }

  QString contextName_ = QStringLiteral("default");

 private:
  CS_CONTEXT* ctx_ = nullptr;
  CS_CONNECTION* con_ = nullptr;
};
