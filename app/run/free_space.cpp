#include "app/run/free_space.h"

#include <algorithm>
#include <functional>

#include "app/run/file_chain.h"
#include "app/run/file_form.h"
#include "list/layout.h"
#include "runtime/files.h"

namespace app {
namespace {

// Every figure is held within [-kMaxRoom, kMaxRoom]. Two such values may sum
// to 2^63, one past the largest int64_t, so a sum is held before it is made.
int64_t Held(int64_t value) { return std::clamp(value, -kMaxRoom, kMaxRoom); }
int64_t Add(int64_t a, int64_t b) {
  a = Held(a);
  b = Held(b);
  if (a > 0 && b > kMaxRoom - a) return kMaxRoom;
  if (a < 0 && b < -kMaxRoom - a) return -kMaxRoom;
  return a + b;
}

int64_t NetGrowth(const FileRoom& f) {
  // Each step stays within [-2^63, 2^63): held figures of at most 2^62.
  return Held(Held(Held(f.new_size) - Held(f.partial) - Held(f.old_size)) - Held(f.form_partial));
}
int64_t StillToCome(const FileRoom& f) {
  return Add(std::max<int64_t>(Held(Held(f.new_size) - Held(f.partial)), 0),
             std::max<int64_t>(Held(Held(f.form_size) - Held(f.form_partial)), 0));
}

}  // namespace

int64_t LeastRoomNeeded(const std::vector<FileRoom>& files) {
  int64_t end = 0;
  int64_t freed = 0;  // the sum of every negative growth
  int64_t slack = 0;
  for (const FileRoom& f : files) {
    const int64_t net = NetGrowth(f);
    end = Add(end, net);
    freed = Add(freed, std::min<int64_t>(net, 0));
    slack = Add(slack, (f.old_size > 0 ? kClusterSlack : 0) + (f.partial > 0 ? kClusterSlack : 0) +
                           (f.form_partial > 0 ? kClusterSlack : 0));
  }
  int64_t peak = 0;
  for (const FileRoom& f : files) {
    // The other files' freed room: all of it but this file's own share.
    const int64_t others_freed = Held(freed - std::min<int64_t>(NetGrowth(f), 0));
    peak = std::max(peak, Add(StillToCome(f), others_freed));
  }
  return std::max<int64_t>(Held(std::max(end, peak) - slack), 0);
}

int32_t TransfersForRoom(const std::vector<FileRoom>& files, int64_t free, int32_t transfers) {
  if (free < 0 || transfers <= 1) return transfers;
  // The largest files' bytes still to come, that many at once.
  std::vector<int64_t> coming;
  coming.reserve(files.size());
  for (const FileRoom& f : files) coming.push_back(StillToCome(f));
  const size_t at_once = std::min(coming.size(), static_cast<size_t>(transfers));
  std::partial_sort(coming.begin(), coming.begin() + static_cast<std::ptrdiff_t>(at_once), coming.end(),
                    std::greater<int64_t>());
  int64_t together = 0;
  for (size_t i = 0; i < at_once; ++i) together = Add(together, coming[i]);
  return together > free ? 1 : transfers;
}

std::optional<std::vector<FileRoom>> RoomOfEntries(const std::vector<OutdatedFile>& entries,
                                                   const list::ClientFolder& client,
                                                   const std::function<bool(size_t)>& include) {
  std::vector<FileRoom> rooms;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (include && !include(i)) continue;
    const list::PatchEntry& entry = entries[i].entry;
    if (!entry.digest) return std::nullopt;
    const rt::Text path = client.Path(entry.path);
    const int64_t partial = rt::FileSize64(PartialPathOf(path));
    FileRoom room{entry.digest->size, std::max<int64_t>(partial, 0), std::max<int64_t>(rt::FileSize64(path), 0)};
    room.entry = i;
    room.partial_absent = partial < 0;
    if (!entry.forms.empty()) {
      const FileForm first = FormsToTry(entries[i]).front();
      if (!first.Whole()) room.form_size = first.ExpectedSize();
      room.form_partial = std::max<int64_t>(rt::FileSize64(FormPartialPathOf(path)), 0);
    }
    rooms.push_back(room);
  }
  return rooms;
}

}  // namespace app
