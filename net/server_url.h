#pragma once
// The update server setting: one base URL, or several separated by ";"
// (mirrors), each http://HOST[:PORT]/[PATH/]. The one rule the updater reads
// it by, parsed once into values; the configuration refuses the same
// settings with the same reasons (cmake/server_url.cmake), both tested over
// one table (tests/cmake/server_url_cases.txt).
#include <cstdint>
#include <vector>

#include "net/download_url.h"
#include "runtime/types.h"

namespace net {

// One mirror: the base URL as the setting writes it (blanks around it
// dropped) and its pieces. `base.path` is what follows the authority's "/",
// not escaped, empty or ending in "/"; `base.file_name` is empty.
struct ServerUrl {
  rt::Text text;
  DownloadUrl base;
};

// One base URL: its pieces, or why the engine cannot use it (`problem`
// not empty, `url` empty).
struct ServerUrlParse {
  ServerUrl url;
  rt::Text problem;
  bool ok() const { return problem.empty(); }
};
[[nodiscard]] ServerUrlParse ParseServerUrl(const rt::Text& text);

// The whole setting: every mirror in its order, or the first one the engine
// cannot use and why ("mirror 2 \"https://b/\": ..."), or "no server URL
// given". A refused setting gives no mirror at all.
struct ServerSetting {
  std::vector<ServerUrl> mirrors;
  rt::Text problem;
  bool ok() const { return problem.empty(); }
};
[[nodiscard]] ServerSetting ParseServerSetting(const rt::Text& setting);

}  // namespace net
