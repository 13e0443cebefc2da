// The reply writer. FreeTDS stops reading at the first DONE without MORE, so the writer never
// decides MORE when the DONE arrives: it holds the DONE until the next token (then MORE is set)
// or the end of the reply (then it is not). Tokens stream out in batches of full packets;
// after an attention the unsent rest is dropped, except the tail of a token whose head already
// went out (the client parses tokens across packets and would misread a cut token).
#include "server/tds/reply_writer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "server/tds/tokens.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

ReplyWriter::ReplyWriter(PacketWriter& out, std::string serverName, const SessionOptions* options,
                         std::function<AttentionPoll()> poll, int pollIntervalMs)
    : out_(out),
      serverName_(std::move(serverName)),
      options_(options),
      poll_(std::move(poll)),
      pollInterval_(pollIntervalMs),
      // The first look at the socket waits one interval: a request answered sooner needs none,
      // and an attention that arrives meanwhile is answered after the reply, as the client
      // expects of one that crossed a finished reply.
      nextPoll_(std::chrono::steady_clock::now() + pollInterval_) {}

void ReplyWriter::releaseHeldDone() {
  if (!heldDone_) return;
  Bytes done = std::move(*heldDone_);
  heldDone_.reset();
  done[1] |= done_status::kMore;
  pending_.insert(pending_.end(), done.begin(), done.end());
  ends_.push_back(pending_.size());
}

void ReplyWriter::append(const Bytes& token) {
  if (stopped()) return;
  releaseHeldDone();
  if (pending_.empty()) pendingSince_ = std::chrono::steady_clock::now();
  pending_.insert(pending_.end(), token.begin(), token.end());
  ends_.push_back(pending_.size());
  flushFullPackets();
}

template <class Encode>
void ReplyWriter::appendInPlace(Encode&& encode) {
  const size_t start = pending_.size();
  try {
    ByteWriter w(pending_);
    encode(w);
  } catch (...) {
    pending_.resize(start);
    throw;
  }
  if (heldDone_) {
    // The held DONE goes in front of the new token, as append() would have sent it.
    Bytes done = std::move(*heldDone_);
    heldDone_.reset();
    done[1] |= done_status::kMore;
    pending_.insert(pending_.begin() + static_cast<std::ptrdiff_t>(start), done.begin(), done.end());
    ends_.push_back(start + done.size());
  }
  if (start == 0) pendingSince_ = std::chrono::steady_clock::now();
  ends_.push_back(pending_.size());
  flushFullPackets();
}

void ReplyWriter::flushFullPackets() {
  const size_t payload = out_.payloadSize();
  if (pending_.size() < std::max(payload, kSendBatch) || !out_.healthy()) return;
  if (!readyToSend()) return;
  heldMark_.reset();
  // Committing may have taken back lost work's tokens.
  if (pending_.size() < std::max(payload, kSendBatch)) return;
  // Every full packet goes out in one gathered write straight from pending_.
  const size_t sent = pending_.size() / payload * payload;
  out_.sendPackets(pending_.data(), sent, false);
  const bool onBoundary = std::binary_search(ends_.begin(), ends_.end(), sent);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
  ends_.erase(ends_.begin(), std::upper_bound(ends_.begin(), ends_.end(), sent));
  for (size_t& e : ends_) e -= sent;
  // When the cut fell inside a token, its rest up to the next token end must still go out.
  partialTail_ = onBoundary || ends_.empty() ? 0 : ends_.front();
}

void ReplyWriter::flushPending() {
  if (pending_.empty() || !out_.healthy()) return;
  if (!readyToSend()) return;
  heldMark_.reset();
  if (pending_.empty()) return;
  out_.sendPackets(pending_.data(), pending_.size(), false);
  pending_.clear();
  ends_.clear();
  partialTail_ = 0;
}

void ReplyWriter::token(const Bytes& bytes) {
  append(bytes);
}

void ReplyWriter::rowFormat(const std::vector<ColumnDesc>& columns) {
  if (stopped()) return;
  rowColumns(columns);
  append(encodeRowFormat(columns_));
  rowResultOpen_ = true;
  rowsInResult_ = 0;
}

void ReplyWriter::rowColumns(const std::vector<ColumnDesc>& columns) {
  columns_ = columns;
  formats_.clear();
  for (const ColumnDesc& c : columns_) formats_.push_back(wireFormatFor(c));
  // A new row format discards the client's compute formats.
  computes_.clear();
}

void ReplyWriter::computeFormat(uint16_t id, const std::vector<ComputeColumn>& columns,
                                const std::vector<uint8_t>& byList) {
  if (stopped()) return;
  if (columns_.empty()) throw std::invalid_argument("a compute format needs a row format before it");
  for (const ComputeColumn& c : columns)
    if (c.operand == 0 || c.operand > columns_.size())
      throw std::invalid_argument("compute operand " + std::to_string(c.operand) +
                                  " is not a select-list column");
  for (uint8_t b : byList)
    if (b == 0 || b > columns_.size())
      throw std::invalid_argument("compute BY column " + std::to_string(b) + " is not a select-list column");
  Bytes format = encodeComputeFormat(id, columns, byList);
  ComputeShape shape;
  shape.id = id;
  for (const ComputeColumn& c : columns) {
    shape.columns.push_back(c.desc);
    shape.formats.push_back(wireFormatFor(c.desc));
  }
  std::erase_if(computes_, [id](const ComputeShape& s) { return s.id == id; });
  computes_.push_back(std::move(shape));
  // ALTNAME first: FreeTDS creates the compute result from it and closes the connection on an
  // ALTFMT whose id it has not seen.
  append(encodeComputeNames(id, columns));
  append(format);
}

void ReplyWriter::computeRow(uint16_t id, const std::vector<Value>& values) {
  if (stopped()) return;
  auto it =
      std::find_if(computes_.begin(), computes_.end(), [id](const ComputeShape& s) { return s.id == id; });
  if (it == computes_.end())
    throw std::invalid_argument("compute row for undeclared compute " + std::to_string(id));
  ValueContext context;
  if (options_) context.textSize = options_->textSize;
  context.rowNumber = ++rows_;
  appendInPlace([&](ByteWriter& w) {
    w.u8(static_cast<uint8_t>(Token::AltRow));
    w.u16(id);
    encodeValues(w, it->columns, it->formats, values, context);
  });
}

void ReplyWriter::row(const std::vector<Value>& values) {
  if (stopped()) return;
  // FreeTDS drops the connection on a ROW of a format without columns.
  if (columns_.empty()) throw std::invalid_argument("a row needs a row format with columns");
  ValueContext context;
  if (options_) context.textSize = options_->textSize;
  context.rowNumber = ++rows_;
  appendInPlace([&](ByteWriter& w) {
    w.u8(static_cast<uint8_t>(Token::Row));
    encodeValues(w, columns_, formats_, values, context);
  });
  ++rowsInResult_;
}

void ReplyWriter::message(const ServerMessage& msg) {
  append(encodeEed(msg, serverName_));
}

void ReplyWriter::done(DoneKind kind, bool error, int32_t rowCount) {
  if (stopped()) return;
  uint16_t status = 0;
  if (error) status |= done_status::kError;
  const bool noCount = options_ && options_->noCount;
  if (rowCount >= 0 && !noCount) status |= done_status::kCount;
  Bytes token = encodeDone(kind, status, (status & done_status::kCount) ? rowCount : 0);
  // The previous DONE, if still held, is followed by this one: it gets MORE.
  releaseHeldDone();
  releaseProcedureResults();
  heldDone_ = std::move(token);
  heldEndsEmptyRows_ = rowResultOpen_ && rowsInResult_ == 0;
  rowResultOpen_ = false;
  flushFullPackets();
}

void ReplyWriter::returnStatus(int32_t status) {
  if (stopped()) return;
  heldStatus_ = status;
}

void ReplyWriter::releaseProcedureResults() {
  std::optional<int32_t> status = std::exchange(heldStatus_, std::nullopt);
  std::optional<Bytes> params = std::exchange(heldParams_, std::nullopt);
  if (status) append(encodeReturnStatus(*status));
  if (params) append(*params);
}

void ReplyWriter::outputParams(const std::vector<ColumnDesc>& params, const std::vector<Value>& values) {
  if (stopped()) return;
  std::vector<WireFormat> formats;
  for (const ColumnDesc& c : params) formats.push_back(wireFormatFor(c));
  ValueContext context;
  if (options_) context.textSize = options_->textSize;
  context.rowNumber = ++rows_;
  // Encode both first, so a value that cannot travel leaves no half result behind.
  Bytes encoded = encodeParamFormat(params);
  Bytes valueBytes = encodeParams(params, formats, values, context);
  encoded.insert(encoded.end(), valueBytes.begin(), valueBytes.end());
  heldParams_ = std::move(encoded);
}

void ReplyWriter::envChange(EnvChange type, const std::string& newValue, const std::string& oldValue) {
  append(encodeEnvChange(type, newValue, oldValue));
}

bool ReplyWriter::cancelled() {
  if (stopped()) return true;
  auto now = std::chrono::steady_clock::now();
  if (now < nextPoll_) return false;
  nextPoll_ = now + pollInterval_;
  if (!pending_.empty() && now - pendingSince_ >= kStaleFlush) flushPending();
  if (!poll_) return false;
  switch (poll_()) {
    case AttentionPoll::Attention:
      attention_ = true;
      break;
    case AttentionPoll::Broken:
      broken_ = true;
      break;
    case AttentionPoll::Nothing:
      break;
  }
  return stopped();
}

void ReplyWriter::markHeldOutput() {
  heldMark_ = HeldMark{pending_.size(), ends_.size(), heldDone_};
}

void ReplyWriter::dropHeldOutput() {
  if (!heldMark_) return;
  pending_.resize(heldMark_->pending);
  ends_.resize(std::min(ends_.size(), heldMark_->ends));
  heldDone_ = std::move(heldMark_->heldDone);
  heldMark_.reset();
}

bool ReplyWriter::finish() {
  if (finished_) return out_.healthy();
  finished_ = true;
  if (!out_.healthy()) return false;
  // The executor ends its held work with the batch; this is the last chance before the bytes go.
  readyToSend();
  heldMark_.reset();
  if (attention_) {
    // Keep only the rest of a token that is already half on the wire, then acknowledge.
    pending_.resize(partialTail_);
    heldDone_.reset();
    Bytes ack = encodeDone(DoneKind::Done, done_status::kAttention, 0);
    pending_.insert(pending_.end(), ack.begin(), ack.end());
  } else if (heldDone_) {
    if (heldStatus_ || heldParams_) {
      // A status or parameters sent after the last DONE still belong in front of it.
      Bytes done = std::move(*heldDone_);
      heldDone_.reset();
      releaseProcedureResults();
      pending_.insert(pending_.end(), done.begin(), done.end());
    } else if (guardEmptyFinal_ && heldEndsEmptyRows_ &&
               (*heldDone_)[0] == static_cast<uint8_t>(Token::Done)) {
      Bytes inProc = *heldDone_;
      inProc[0] = static_cast<uint8_t>(Token::DoneInProc);
      inProc[1] |= done_status::kMore;
      pending_.insert(pending_.end(), inProc.begin(), inProc.end());
      pending_.insert(pending_.end(), heldDone_->begin(), heldDone_->end());
      heldDone_.reset();
    } else {
      pending_.insert(pending_.end(), heldDone_->begin(), heldDone_->end());
      heldDone_.reset();
    }
  } else {
    releaseProcedureResults();
    // A reply that does not end in a DONE would leave the client waiting: end it with DONE(0).
    Bytes done = encodeDone(DoneKind::Done, 0, 0);
    pending_.insert(pending_.end(), done.begin(), done.end());
  }
  ends_.clear();
  out_.sendPackets(pending_.data(), pending_.size(), true);
  pending_.clear();
  return out_.healthy();
}

}  // namespace tabsrv::tds
