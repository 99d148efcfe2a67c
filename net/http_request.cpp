#include "net/http_request.h"

#include <string>
#include <vector>

namespace net {
namespace {

// One request line: a fixed text, or a prefix followed by a field value and a
// suffix. Lines carry their own line ends so that the odd ones stay visible.
enum class Field { kNone, kTarget, kHost, kRange, kCookie };

struct Line {
  const char* prefix;
  Field field;
  const char* suffix;
  bool cookie_only;
};

// "Connection: close" has no line end of its own; the cookie line brings one
// before it, and the closing "\r\n\r\n" ends the block either way.
const std::vector<Line> kResumeLines = {
    {"GET ", Field::kTarget, " HTTP/1.1\r\n", false},
    {"Host: ", Field::kHost, "\r\n", false},
    {"Accept: */*\r\n", Field::kNone, "", false},
    {"User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n", Field::kNone, "", false},
    {"Range: bytes=", Field::kRange, "\r\n", false},
    {"Pragma: no-cache\r\n", Field::kNone, "", false},
    {"Cache-Control: no-cache\r\n", Field::kNone, "", false},
    {"Connection: close", Field::kNone, "", false},
    {"\r\nCookie: ", Field::kCookie, "\r\n", true},
    {"\r\n\r\n", Field::kNone, "", false},
};

// The fresh form ends in an empty line after the header block and then one
// more line end: three CR LF pairs in a row.
const std::vector<Line> kFreshLines = {
    {"GET ", Field::kTarget, " HTTP/1.1\r\n", false},
    {"Accept: */*\r\n", Field::kNone, "", false},
    {"Accept-Language: zh-cn\r\n", Field::kNone, "", false},
    {"Host: ", Field::kHost, "\r\n", false},
    {"Connection: Keep-Alive\r\n", Field::kNone, "", false},
    {"Cookie: ", Field::kCookie, "\r\n", true},
    {"\r\n\r\n", Field::kNone, "", false},
};

rt::Text FieldValue(Field field, const RequestFields& fields) {
  switch (field) {
    case Field::kNone: return rt::Text();
    case Field::kTarget: return fields.origin + "/" + fields.path;
    case Field::kHost: return fields.host_field;
    case Field::kRange:
      return std::to_string(fields.range_start) + "-" +
             (fields.range_last >= 0 ? std::to_string(fields.range_last) : std::string());
    case Field::kCookie: return fields.cookie;
  }
  return rt::Text();
}

}  // namespace

rt::Text BuildRequest(RequestForm form, const RequestFields& fields) {
  const std::vector<Line>& lines = form == RequestForm::kResume ? kResumeLines : kFreshLines;
  rt::Text request;
  for (const Line& line : lines) {
    if (line.cookie_only && fields.cookie.empty()) continue;
    request += line.prefix;
    request += FieldValue(line.field, fields);
    request += line.suffix;
  }
  return request;
}

}  // namespace net
