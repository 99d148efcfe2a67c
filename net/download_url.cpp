#include "net/download_url.h"

#include "runtime/convert.h"
#include "runtime/text.h"

namespace net {

DownloadUrl SplitDownloadUrl(const rt::Text& url) {
  DownloadUrl result;
  const rt::TextArray pieces = rt::SplitText(url, "/");
  if (!pieces.empty()) result.file_name = pieces.back();
  const rt::Text authority = pieces.size() >= 3 ? pieces[2] : rt::Text();
  if (rt::FindText(authority, ":") != -1) {
    const rt::TextArray parts = rt::SplitText(authority, ":");
    result.host = parts.empty() ? rt::Text() : parts[0];
    const rt::Text port_text = parts.size() >= 2 ? parts[1] : rt::Text();
    result.port = static_cast<uint16_t>(rt::ToInteger(port_text));
    result.host_field = result.host + ":" + rt::ToText(static_cast<int32_t>(result.port));
  } else {
    result.host = authority;
    result.host_field = authority;
  }
  result.path = rt::ReplaceText(url, "http://" + result.host_field + "/", rt::Text(), 1, 1);
  return result;
}

DownloadUrl UrlBelow(const DownloadUrl& folder, const rt::Text& relative) {
  DownloadUrl result = folder;
  result.path = folder.path + relative;
  const rt::TextArray pieces = rt::SplitText(relative, "/");
  if (!pieces.empty()) result.file_name = pieces.back();
  return result;
}

}  // namespace net
