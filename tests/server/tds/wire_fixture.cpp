// The client-side mirror used by the tests. The token splitter knows each server token's
// length rule: fixed (DONE 9 bytes, RETURNSTATUS 5), a 2-byte length, or ROW/PARAMS/ALTROW
// values whose sizes come from the format before them.
#include "tests/server/tds/wire_fixture.h"

#include "tests/support/tds_column_shape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace tabtest {

namespace {

void putField(Bytes& rec, size_t offset, const std::string& value, size_t width) {
  size_t n = std::min(value.size(), width);
  std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n),
            rec.begin() + static_cast<std::ptrdiff_t>(offset));
  rec[offset + width] = static_cast<uint8_t>(n);
}

uint16_t le16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                               (static_cast<uint32_t>(b[at + 3]) << 24));
}

// Reads a type byte and its type info at `at`, moving past them.
ColumnShape readShape(const Bytes& t, size_t& at) {
  ColumnShape s;
  if (!readColumnShape(t.data(), t.size(), at, s)) ADD_FAILURE() << "unknown wire type " << int(s.type);
  return s;
}

// Reads a ROWFMT/PARAMFMT body (after length) into shapes.
std::vector<ColumnShape> readShapes(const Bytes& t, size_t at, size_t end) {
  std::vector<ColumnShape> shapes;
  uint16_t count = le16(t, at);
  at += 2;
  for (int i = 0; i < count && at < end; ++i) {
    at += 1 + t[at];  // name
    at += 1;          // status
    at += 4;          // user type
    ColumnShape s = readShape(t, at);
    at += 1 + t[at];  // locale
    shapes.push_back(s);
  }
  return shapes;
}

// Reads an ALTFMT body (after length): id, count, then operator, operand, user type, type.
std::vector<ColumnShape> readComputeShapes(const Bytes& t, size_t at, size_t end, uint16_t& id) {
  std::vector<ColumnShape> shapes;
  id = le16(t, at);
  uint8_t count = t[at + 2];
  at += 3;
  for (int i = 0; i < count && at < end; ++i) {
    at += 2 + 4;  // operator, operand, user type
    ColumnShape s = readShape(t, at);
    at += 1 + t[at];  // locale
    shapes.push_back(s);
  }
  return shapes;
}

// Moves past one value laid out as `s`.
void skipValue(const Bytes& d, size_t& at, const ColumnShape& s) {
  if (at >= d.size()) return;
  if (s.lengthBytes == 0)
    at += s.fixedSize;
  else if (s.lengthBytes == 1)
    at += 1 + d[at];
  else if (s.lengthBytes == 4)
    at += 4 + le32(d, at);
  else {
    uint8_t ptr = d[at];
    at += 1;
    if (ptr) {
      at += ptr + 8;
      at += 4 + le32(d, at);
    }
  }
}

}  // namespace

Bytes loginRecord(const LoginFields& f) {
  Bytes rec(603, 0);
  putField(rec, 0, f.host, 30);
  putField(rec, 31, f.user, 30);
  putField(rec, 62, f.password, 30);
  putField(rec, 93, f.hostProcess, 30);
  const uint8_t orders[] = {3, 1, 6, 10, 9, 1, 1};
  std::copy(std::begin(orders), std::end(orders), rec.begin() + 124);
  putField(rec, 140, f.appName, 30);
  putField(rec, 171, f.serverName, 30);
  size_t pw = f.password.size() <= 253 ? f.password.size() : 0;
  rec[202] = 0;
  rec[203] = static_cast<uint8_t>(pw);
  std::copy(f.password.begin(), f.password.begin() + static_cast<std::ptrdiff_t>(pw), rec.begin() + 204);
  rec[457] = static_cast<uint8_t>(pw + 2);
  rec[458] = 5;
  putField(rec, 462, "CT-Library", 10);
  rec[473] = 5;
  rec[478] = 0x0D;
  rec[479] = 0x11;
  putField(rec, 480, f.language, 30);
  rec[556] = 1;
  putField(rec, 557, f.packetSize, 6);
  if (f.capabilities) {
    const uint8_t caps[] = {0xE2, 0x20, 0x00, 0x01, 0x0E, 0x00, 0x00, 0x60, 0x08, 0x81, 0x81, 0xe8,
                            0x0f, 0x6d, 0x7f, 0xff, 0xff, 0xff, 0xfe, 0x02, 0x0E, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::copy(std::begin(caps), std::end(caps), rec.begin() + 568);
  }
  return rec;
}

Bytes packets(uint8_t type, const Bytes& data, size_t packetSize) {
  Bytes out;
  size_t payload = packetSize - 8;
  size_t at = 0;
  uint8_t number = 1;
  do {
    size_t n = std::min(payload, data.size() - at);
    bool last = at + n >= data.size();
    size_t len = n + 8;
    out.insert(out.end(), {type, static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(len >> 8),
                           static_cast<uint8_t>(len), 0, 0, number++, 0});
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < data.size());
  return out;
}

Bytes loginPackets(const LoginFields& fields, size_t packetSize) {
  return packets(2, loginRecord(fields), packetSize);
}

Bytes languagePackets(const std::string& sql, size_t packetSize, uint8_t status) {
  Bytes d = {0x21};
  uint32_t len = static_cast<uint32_t>(sql.size() + 1);
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(len >> (8 * i)));
  d.push_back(status);
  d.insert(d.end(), sql.begin(), sql.end());
  return packets(15, d, packetSize);
}

Bytes optionPackets(uint8_t command, uint8_t option, const Bytes& argument) {
  Bytes d = {0xA6,   static_cast<uint8_t>(3 + argument.size()), 0, command,
             option, static_cast<uint8_t>(argument.size())};
  d.insert(d.end(), argument.begin(), argument.end());
  return packets(15, d);
}

Bytes logoutPackets() {
  return packets(15, {0x71, 0x00});
}

Bytes attentionPacket() {
  return {6, 1, 0, 8, 0, 0, 0, 0};
}

namespace {

void put16(Bytes& b, size_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void putText8(Bytes& b, const std::string& s) {
  b.push_back(static_cast<uint8_t>(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}
// A token with a 2-byte length in front of its body.
Bytes withLength(uint8_t token, const Bytes& body) {
  Bytes out = {token};
  put16(out, body.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

Bytes curDeclareToken(const std::string& name, const std::string& sql, uint8_t options) {
  Bytes b;
  putText8(b, name);
  b.push_back(options);
  b.push_back(0);
  put16(b, sql.size());
  b.insert(b.end(), sql.begin(), sql.end());
  b.push_back(0);
  return withLength(0x86, b);
}

Bytes curRowsToken(const std::string& name, int32_t rows) {
  Bytes b;
  put32(b, 0);
  putText8(b, name);
  b.insert(b.end(), {0x01, 0x00, 0x20});
  put32(b, static_cast<uint32_t>(rows));
  return withLength(0x83, b);
}

Bytes curOpenToken(const std::string& name) {
  Bytes b;
  put32(b, 0);
  putText8(b, name);
  b.push_back(0);
  return withLength(0x84, b);
}

Bytes curFetchToken(int32_t id, const std::string& name) {
  Bytes b;
  put32(b, static_cast<uint32_t>(id));
  if (id == 0) putText8(b, name);
  b.push_back(1);
  return withLength(0x82, b);
}

Bytes curCloseToken(int32_t id, bool deallocate) {
  Bytes b;
  put32(b, static_cast<uint32_t>(id));
  b.push_back(deallocate ? 1 : 0);
  return withLength(0x80, b);
}

Bytes dynamicToken(uint8_t type, uint8_t status, const std::string& id, const std::string& statement) {
  Bytes b = {type, status};
  putText8(b, id);
  put16(b, statement.size());
  b.insert(b.end(), statement.begin(), statement.end());
  return withLength(0xE7, b);
}

Bytes rpcToken(const std::string& name, bool withParams) {
  Bytes b;
  putText8(b, name);
  put16(b, withParams ? 2 : 0);
  return withLength(0xE6, b);
}

Bytes paramTokens(const std::vector<WireParam>& params, bool wide) {
  Bytes body;
  put16(body, params.size());
  for (const WireParam& p : params) {
    putText8(body, p.name);
    if (wide)
      put32(body, p.status);
    else
      body.push_back(p.status);
    put32(body, 0);  // user type
    body.push_back(p.type);
    body.insert(body.end(), p.info.begin(), p.info.end());
    body.push_back(0);  // locale
  }
  Bytes out;
  if (wide) {
    out.push_back(0x20);
    put32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
  } else {
    out = withLength(0xEC, body);
  }
  out.push_back(0xD7);
  for (const WireParam& p : params) out.insert(out.end(), p.value.begin(), p.value.end());
  return out;
}

std::vector<ReplyPacket> splitPackets(const Bytes& out) {
  std::vector<ReplyPacket> result;
  size_t at = 0;
  while (at < out.size()) {
    if (out.size() - at < 8) {
      ADD_FAILURE() << "truncated reply header";
      break;
    }
    ReplyPacket p;
    p.type = out[at];
    p.status = out[at + 1];
    p.length = (static_cast<size_t>(out[at + 2]) << 8) | out[at + 3];
    if (p.length < 8 || at + p.length > out.size()) {
      ADD_FAILURE() << "bad reply packet length " << p.length;
      break;
    }
    p.data.assign(out.begin() + static_cast<std::ptrdiff_t>(at + 8),
                  out.begin() + static_cast<std::ptrdiff_t>(at + p.length));
    at += p.length;
    result.push_back(std::move(p));
  }
  return result;
}

Bytes joinData(const std::vector<ReplyPacket>& packets) {
  Bytes d;
  for (const auto& p : packets) d.insert(d.end(), p.data.begin(), p.data.end());
  return d;
}

uint16_t ReplyToken::doneStatus() const {
  return le16(bytes, 1);
}
int32_t ReplyToken::doneCount() const {
  return static_cast<int32_t>(le32(bytes, 5));
}
int32_t ReplyToken::eedNumber() const {
  return static_cast<int32_t>(le32(bytes, 3));
}
std::string ReplyToken::eedText() const {
  size_t at = 3 + 4 + 1 + 1;
  at += 1 + bytes[at];  // sqlstate
  at += 1 + 2;          // status, transtate
  uint16_t n = le16(bytes, at);
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at + 2),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 2 + n));
}

int32_t ReplyToken::curInfoId() const {
  return static_cast<int32_t>(le32(bytes, 3));
}
uint16_t ReplyToken::curInfoStatus() const {
  // Server CURINFO: length, id, command, status (the id is never 0, so no name).
  return le16(bytes, 8);
}

std::vector<ReplyToken> splitTokens(const Bytes& d) {
  std::vector<ReplyToken> tokens;
  std::vector<ColumnShape> rowShapes, paramShapes;
  std::map<uint16_t, std::vector<ColumnShape>> computeShapes;
  size_t at = 0;
  while (at < d.size()) {
    uint8_t t = d[at];
    size_t start = at;
    size_t end = 0;
    switch (t) {
      case 0xFD:
      case 0xFE:
      case 0xFF:
        end = at + 9;
        break;
      case 0x79:
        end = at + 5;
        break;
      case 0xD1:
      case 0xD7: {
        const auto& shapes = t == 0xD1 ? rowShapes : paramShapes;
        at += 1;
        for (const ColumnShape& s : shapes) skipValue(d, at, s);
        end = at;
        break;
      }
      case 0xD3: {
        uint16_t id = le16(d, at + 1);
        at += 3;
        if (!computeShapes.count(id)) ADD_FAILURE() << "compute row for unknown id " << id;
        for (const ColumnShape& s : computeShapes[id]) skipValue(d, at, s);
        end = at;
        break;
      }
      case 0x61:
        end = at + 5 + le32(d, at + 1);
        break;
      default:
        if (at + 3 > d.size()) {
          ADD_FAILURE() << "token " << int(t) << " cut short";
          return tokens;
        }
        end = at + 3 + le16(d, at + 1);
        if (t == 0xEE) {
          rowShapes = readShapes(d, at + 3, end);
          computeShapes.clear();
        }
        if (t == 0xEC) paramShapes = readShapes(d, at + 3, end);
        if (t == 0xA8) {
          uint16_t id = 0;
          auto shapes = readComputeShapes(d, at + 3, end, id);
          computeShapes[id] = shapes;
        }
        if (t != 0xEE && t != 0xEC && t != 0xE5 && t != 0xAD && t != 0xE2 && t != 0xE3 && t != 0xA6 &&
            t != 0x83 && t != 0xE7 && t != 0xA7 && t != 0xA8) {
          ADD_FAILURE() << "unknown server token " << int(t);
          return tokens;
        }
        break;
    }
    if (end > d.size()) {
      ADD_FAILURE() << "token " << int(t) << " runs past the reply";
      return tokens;
    }
    ReplyToken tok;
    tok.token = t;
    tok.bytes.assign(d.begin() + static_cast<std::ptrdiff_t>(start),
                     d.begin() + static_cast<std::ptrdiff_t>(end));
    tokens.push_back(std::move(tok));
    at = end;
  }
  return tokens;
}

std::vector<ReplyToken> replyTokens(const Bytes& output) {
  return splitTokens(joinData(splitPackets(output)));
}

std::string tokenSequence(const std::vector<ReplyToken>& tokens) {
  std::string s;
  for (const auto& t : tokens) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", t.token);
    if (!s.empty()) s += ' ';
    s += buf;
  }
  return s;
}

std::string hexBytes(const Bytes& bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x", b);
    if (!s.empty()) s += ' ';
    s += buf;
  }
  return s;
}

}  // namespace tabtest
