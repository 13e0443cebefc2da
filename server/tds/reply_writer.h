// The ResultSink the executor writes a batch's results to: it encodes tokens, streams them out
// in packets, keeps the last DONE back to decide its MORE bit, and watches for attentions.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/core/session.h"
#include "server/tds/data_format.h"
#include "server/tds/packet_writer.h"

namespace tabsrv::tds {

// What cancelled() learns when it looks at the socket.
enum class AttentionPoll { Nothing, Attention, Broken };

// One reply (one client request) in the making. Tokens go out in full packets, a batch of them
// at a time (kSendBatch); tokens that wait longer than kStaleFlush (a slow batch between
// results) are sent at the next cancelled() check, so the client sees early results of a long
// batch.
class ReplyWriter : public ResultSink {
 public:
  static constexpr std::chrono::milliseconds kStaleFlush{50};
  // Full packets wait until about this many bytes are pending and then go out in one gathered
  // write: one system call per packet (512 bytes by default) cost more than encoding the rows.
  static constexpr size_t kSendBatch = 32768;

  // `poll` is asked, at most every pollIntervalMs, whether an attention has arrived; it may be
  // empty (no attention watching). `options` supplies textsize and nocount; may be null.
  ReplyWriter(PacketWriter& out, std::string serverName, const SessionOptions* options,
              std::function<AttentionPoll()> poll = {}, int pollIntervalMs = 1);

  void rowFormat(const std::vector<ColumnDesc>& columns) override;
  void row(const std::vector<Value>& values) override;
  void message(const ServerMessage& msg) override;
  void done(DoneKind kind, bool error, int32_t rowCount) override;
  void returnStatus(int32_t status) override;
  void outputParams(const std::vector<ColumnDesc>& params, const std::vector<Value>& values) override;
  void envChange(EnvChange type, const std::string& newValue, const std::string& oldValue) override;
  bool cancelled() override;
  void computeFormat(uint16_t id, const std::vector<ComputeColumn>& columns,
                     const std::vector<uint8_t>& byList) override;
  void computeRow(uint16_t id, const std::vector<Value>& values) override;
  bool defersOutput() const override { return true; }
  void markHeldOutput() override;
  void dropHeldOutput() override;

  // Sets the columns that row() encodes without sending a ROWFMT: a cursor fetch reply reuses
  // the format its open reply sent (a resent ROWFMT would replace the client's bindings).
  void rowColumns(const std::vector<ColumnDesc>& columns);

  // For replies to dynamic-statement executes: FreeTDS's ct_results consumes the DONE of such a
  // row result itself, so when the reply's last DONE ends a result without rows, ct_fetch then
  // waits for a token that never comes. With this set, that DONE goes out as DONEINPROC and a
  // final DONE with the same count follows it (ct_results: ROW_RESULT, CMD_DONE as usual).
  void guardEmptyFinalResult() { guardEmptyFinal_ = true; }

  // Adds a ready-made token (LOGINACK, CAPABILITY, OPTIONCMD ...).
  void token(const Bytes& bytes);
  // Ends the reply. Normally the held DONE goes out without MORE (or DONE(0) when the reply
  // had none at the end); after an attention, what is still unsent is dropped and one
  // DONE(ATTN) ends the reply instead. Returns false when the client has gone.
  bool finish();

  // True once an attention was seen during this reply.
  bool attentionSeen() const { return attention_; }
  // True when the socket carried something other than an attention while the reply ran.
  bool brokenInput() const { return broken_; }
  // True when a write failed (the client has gone).
  bool writeFailed() const { return !out_.healthy(); }

 private:
  void append(const Bytes& token);
  // Encodes a token straight onto the end of pending_ (the one buffer every row goes through);
  // a value that cannot travel leaves pending_ as it was.
  template <class Encode>
  void appendInPlace(Encode&& encode);
  void releaseHeldDone();
  void flushFullPackets();
  // Sends every complete token still pending, in a packet that is not the last.
  void flushPending();
  bool stopped() const { return attention_ || broken_ || !out_.healthy(); }

  PacketWriter& out_;
  std::string serverName_;
  const SessionOptions* options_;
  std::function<AttentionPoll()> poll_;
  std::chrono::milliseconds pollInterval_;
  std::chrono::steady_clock::time_point nextPoll_{};

  Bytes pending_;  // encoded, not yet sent
  std::chrono::steady_clock::time_point pendingSince_{};
  std::vector<size_t> ends_;  // token end offsets inside pending_
  size_t partialTail_ = 0;    // leading bytes of pending_ that finish a token already half sent
  std::optional<Bytes> heldDone_;
  // Where the output of the executor's held work began (markHeldOutput), while it may be dropped.
  struct HeldMark {
    size_t pending = 0;
    size_t ends = 0;
    std::optional<Bytes> heldDone;
  };
  std::optional<HeldMark> heldMark_;

  // RETURNSTATUS and the output parameters wait for the DONE/DONEPROC that ends the procedure:
  // FreeTDS drops a status not followed by PARAMFMT or a DONE, and one that comes after the
  // parameters.
  std::optional<int32_t> heldStatus_;
  std::optional<Bytes> heldParams_;
  void releaseProcedureResults();

  // The compute formats of the current result set, by compute id.
  struct ComputeShape {
    uint16_t id = 0;
    std::vector<ColumnDesc> columns;
    std::vector<WireFormat> formats;
  };
  std::vector<ComputeShape> computes_;

  bool guardEmptyFinal_ = false;
  bool rowResultOpen_ = false;  // a ROWFMT went out and no DONE since
  uint64_t rowsInResult_ = 0;
  bool heldEndsEmptyRows_ = false;  // the held DONE ends a row result without rows

  std::vector<ColumnDesc> columns_;
  std::vector<WireFormat> formats_;
  uint64_t rows_ = 0;
  bool attention_ = false;
  bool broken_ = false;
  bool finished_ = false;
};

}  // namespace tabsrv::tds
