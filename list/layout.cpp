#include "list/layout.h"

#include "runtime/convert.h"

namespace list {

rt::Text PatchFolder(int32_t number) { return "patch/" + rt::ToText(number) + "/"; }

}  // namespace list
