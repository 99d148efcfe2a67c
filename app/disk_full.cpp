#include "app/disk_full.h"

#include <cmath>

#include "app/flow.h"
#include "runtime/text.h"

namespace app {

rt::Text SizeText(int64_t bytes) {
  if (bytes < 1024) return rt::FormatText("%lld B", static_cast<long long>(bytes < 0 ? 0 : bytes));
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  // Moves up while the value would show four digits (1000 KB is 0.98 MB).
  while (std::ceil(value) >= 1000.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    ++unit;
  }
  const double tenths = std::ceil(value * 10.0) / 10.0;
  if (tenths < 10.0) return rt::FormatText("%.1f %s", tenths, kUnits[unit]);
  return rt::FormatText("%.0f %s", std::ceil(value), kUnits[unit]);
}

rt::Text DiskFullText(int64_t bytes_needed) {
  if (bytes_needed <= 0) return kTextDiskFull;
  return rt::FormatText(kTextDiskFullNeed, SizeText(bytes_needed).c_str());
}

}  // namespace app
