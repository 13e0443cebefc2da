// Prepared (dynamic) statements: prepare binds the text without running it, so that its `?`
// markers get the types of the columns they meet (`where id = ?` takes id's type, `insert t
// values (?)` the column's) and a SELECT gives its result columns; execute runs the text with
// the values converted to those types; ids are per session. The parsed text is kept, and an
// insert of `?` values keeps its plan from one execute to the next (SessionImpl::insertPlan).
#include <utility>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/tsql/lexer.h"
#include "server/types/convert.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

// Every token of the batch is read; only the `?` markers count.
int countMarkers(std::string_view sql) {
  int n = 0;
  for (const Token& t : tokenize(sql))
    if (t.isSymbol("?")) ++n;
  return n;
}

// Keeps the first row format and the first error of a describe run; drops everything else.
class DescribeSink : public ResultSink {
 public:
  std::optional<std::vector<ColumnDesc>> columns;
  std::optional<ServerMessage> error;
  void rowFormat(const std::vector<ColumnDesc>& c) override {
    if (!columns) columns = c;
  }
  void row(const std::vector<Value>&) override {}
  void message(const ServerMessage& m) override {
    if (m.severity > 10 && !error) error = m;
  }
  void done(DoneKind, bool, int32_t) override {}
  void returnStatus(int32_t) override {}
  void outputParams(const std::vector<ColumnDesc>&, const std::vector<Value>&) override {}
  void envChange(EnvChange, const std::string&, const std::string&) override {}
  bool cancelled() override { return false; }
};

}  // namespace

std::pair<Value, TypeDesc> SessionImpl::placeholder(int index, const TypeDesc* hint) {
  if (describing_) {
    // A marker with no context of its own keeps a type another use of it found; one never met
    // in a context is described as varchar.
    if (hint) describedTypes_[index] = *hint;
    auto found = describedTypes_.find(index);
    return {Value{}, found != describedTypes_.end() ? found->second : makeType(SqlType::VarChar, 255)};
  }
  if (!markersSet_) throw SqlError(102, 15, "Incorrect syntax near '?'.");
  if (index < 0 || static_cast<size_t>(index) >= markers_.size())
    throw SqlError(7801, 16,
                   "The prepared statement expects more parameters than the " +
                       std::to_string(markers_.size()) + " given.");
  return markers_[static_cast<size_t>(index)];
}

PreparedDescription SessionImpl::prepareStatement(const std::string& id, const std::string& sql) {
  if (prepared_.count(id))
    throw SqlError(7802, 16, "A prepared statement with the id '" + id + "' already exists.");
  requireSessionRoom(kSessionPreparedStatements, prepared_.size());
  ParseOptions prepareOptions = parseOptions();
  prepareOptions.quotedIdentifiers = options_.quotedIdentifier;
  std::vector<StatementPtr> statements = parseBatch(sql, prepareOptions);

  // Bind every statement with the session left as it was: options, variables and sink.
  DescribeSink capture;
  SessionOptions savedOptions = options_;
  // The text is described as the batch of its own it runs as: the variables the last batch
  // left do not exist for it (a DECLARE of one of their names is no second declaration).
  auto savedVariables = std::exchange(variables_, {});
  ResultSink* savedSink = sink_;
  std::string_view savedBatch = batch_;
  int32_t savedError = error_, savedRowCount = rowCount_;
  sink_ = &capture;
  batch_ = sql;
  describing_ = true;
  describedTypes_.clear();
  options_.fmtOnly = true;
  options_.chained = false;  // an implicit BEGIN would stop the describe before the row format
  for (const auto& s : statements) {
    try {
      runStatement(*s);
    } catch (const Described&) {
      // The statement's SQL was bound; running it is for execute.
    }
    if (capture.error) break;
  }
  describing_ = false;
  options_ = savedOptions;
  variables_ = std::move(savedVariables);
  sink_ = savedSink;
  batch_ = savedBatch;
  error_ = savedError;
  rowCount_ = savedRowCount;
  if (capture.error) throw SqlError(capture.error->number, capture.error->severity, capture.error->text);

  Prepared p;
  p.sql = sql;
  int markers = countMarkers(sql);
  for (int i = 0; i < markers; ++i) {
    ColumnDesc d;
    auto it = describedTypes_.find(i);
    d.type = it != describedTypes_.end() ? it->second : makeType(SqlType::VarChar, 255);
    d.nullable = true;
    p.description.inputs.push_back(d);
    p.untyped.push_back(it == describedTypes_.end());
  }
  if (capture.columns) p.description.outputs = *capture.columns;
  // The parsed batch is kept for execute unless it is one the batch checks refuse (a CREATE
  // PROCEDURE, VIEW ... after another statement); such text is parsed again to report it.
  bool runsParsed = true;
  for (size_t i = 1; i < statements.size(); ++i)
    switch (statements[i]->kind) {
      case StatementKind::CreateProcedure:
      case StatementKind::CreateView:
      case StatementKind::CreateTrigger:
      case StatementKind::CreateRule:
      case StatementKind::CreateDefault:
        runsParsed = false;
        break;
      default:
        break;
    }
  if (runsParsed) {
    p.batch = std::make_shared<PreparedBatch>();
    p.batch->statements = std::move(statements);
    p.batch->quotedIdentifiers = prepareOptions.quotedIdentifiers;
  }
  prepared_[id] = std::move(p);
  return prepared_[id].description;
}

void SessionImpl::executePrepared(const std::string& id, const std::vector<ParamValue>& params,
                                  ResultSink& sink) {
  auto it = prepared_.find(id);
  if (it == prepared_.end())
    throw SqlError(7803, 16, "There is no prepared statement with the id '" + id + "'.");
  const Prepared& p = it->second;
  if (params.size() != p.description.inputs.size())
    throw SqlError(7801, 16,
                   "The prepared statement '" + id + "' expects " +
                       std::to_string(p.description.inputs.size()) + " parameters, " +
                       std::to_string(params.size()) + " were given.");
  std::vector<std::pair<Value, TypeDesc>> values;
  for (size_t i = 0; i < params.size(); ++i) {
    // A marker of no type of its own takes the value as given: a money value made varchar would
    // keep only two of its decimals.
    if (p.untyped[i]) {
      values.emplace_back(params[i].value, params[i].format.type);
      continue;
    }
    TypeDesc to = p.description.inputs[i].type;
    // A character or binary marker is as long as the value given for it: `select ? + '|'` keeps
    // the whole text even though the marker was described beside a one-character literal.
    if (isCharacterType(to.type) || isBinaryType(to.type)) {
      int32_t given = 0;
      if (const auto* s = std::get_if<std::string>(&params[i].value)) given = static_cast<int32_t>(s->size());
      if (const auto* b = std::get_if<Bytes>(&params[i].value)) given = static_cast<int32_t>(b->size());
      if (to.type != SqlType::Text && to.type != SqlType::Image) to.length = std::max(to.length, given);
    }
    values.emplace_back(convertValue(params[i].value, params[i].format.type, to, ConversionKind::Implicit,
                                     options_.dateFormat, info_.implicitScaleLoss),
                        to);
  }
  // The batch runs on its own copy of the text and the parse: a statement may deallocate itself.
  std::string sql = p.sql;
  std::shared_ptr<PreparedBatch> batch = p.batch;
  // The parse holds while quoted_identifier is as it was at prepare.
  if (batch && batch->quotedIdentifiers != options_.quotedIdentifier) batch.reset();
  markers_ = std::move(values);
  markersSet_ = true;
  try {
    runBatch(sql, sink, {}, batch ? &batch->statements : nullptr);
  } catch (...) {
    markersSet_ = false;
    markers_.clear();
    throw;
  }
  markersSet_ = false;
  markers_.clear();
}

void SessionImpl::deallocatePrepared(const std::string& id) {
  if (!prepared_.erase(id))
    throw SqlError(7803, 16, "There is no prepared statement with the id '" + id + "'.");
}

}  // namespace tabsrv
