#include "tools/patchtool/publish_forms.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "codec/delta/delta_format.h"
#include "list/file_list.h"
#include "list/layout.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tools/patchtool/compressed_copy.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/delta_file.h"
#include "tools/patchtool/file_copy.h"
#include "tools/patchtool/progress.h"
#include "tools/patchtool/release_store.h"
#include "trust/signed_list.h"

namespace patchtool {
namespace {

// Suffix of a copy while it is being written.
constexpr char kWritingSuffix[] = ".publishing";

// The replaced list's entries with their digests and forms: read as signed
// when it has hash lines, else as plain.
std::vector<list::PatchEntry> ReplacedEntries(const rt::Bytes& replaced) {
  if (replaced.empty()) return {};
  const rt::Bytes lines = trust::StripSignatureLines(replaced);
  list::FileList read = list::ParseFileList(lines, list::HashLines::kRequired);
  if (!read.usable()) read = list::ParseFileList(lines, list::HashLines::kSkipped);
  return read.entries;
}

// The forms of `old`, an entry of the same content as `file`, whose files
// are still on the server with their sizes.
std::vector<list::FormLine> KeptForms(const list::PatchEntry& old, const ClientFile& file,
                                      const rt::Text& server_root) {
  std::vector<list::FormLine> kept;
  for (const list::FormLine& form : old.forms) {
    if (form.output_size == file.size && rt::FileSize64(JoinDiskPath(server_root, form.name)) == form.size)
      kept.push_back(form);
  }
  return kept;
}

bool HasCopy(const std::vector<list::FormLine>& forms) {
  for (const list::FormLine& form : forms)
    if (form.kind == list::FormKind::kZstd) return true;
  return false;
}

std::string Percent(int64_t part, int64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * static_cast<double>(part) / whole : 0.0);
  return text;
}


// The disk folder of the forms, created when missing; false, with the message
// shown, when it cannot be.
bool MakeFormsFolder(const rt::Text& server_root, rt::Text* forms_folder) {
  *forms_folder = JoinDiskPath(server_root, list::kFormsFolder);
  forms_folder->pop_back();  // its own "/"
  rt::CreateFolderTree(*forms_folder);
  if (rt::FolderExists(*forms_folder)) return true;
  ReportError("publish: cannot create " + Shown(*forms_folder));
  return false;
}

// Name of a delta form after its SHA-256.
constexpr char kDeltaFormSuffix[] = ".delta";
// Patches of one file are made side by side only from bases up to this size:
// each maps its base and indexes it, and memory must stay that of one patch
// of a big file.
constexpr int64_t kMaxSideBySideBaseBytes = 256 << 20;

// One delta patch being made: from `base` to a client file.
struct DeltaJob {
  Release base;
  rt::Text writing;
  DeltaFileMade made;
  std::string error;
  bool ok = false;
};

// A changed big file, its release and the earlier ones to patch from.
struct DeltaFile {
  size_t index = 0;
  Release current;
  std::vector<DeltaJob> jobs;
};

// Makes the file's patches: segments in parallel when the file has enough of
// them to busy every core (or a base is big), else its patches (one per base)
// side by side.
void MakeDeltas(const ReleaseStore& store, const ClientFile& file, const PublishFormsOptions& options,
                DeltaFile* delta_file, Progress* progress) {
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::uint64_t segment_bytes = options.delta_segment_bytes != 0 ? options.delta_segment_bytes
                                                                       : codec::delta::kSegmentBytes;
  const std::uint64_t segments = (static_cast<std::uint64_t>(file.size) + segment_bytes - 1) / segment_bytes;
  DeltaFileOptions delta_options;
  delta_options.segment_bytes = options.delta_segment_bytes;
  std::vector<DeltaJob>& jobs = delta_file->jobs;
  bool small_bases = true;
  for (const DeltaJob& job : jobs) small_bases = small_bases && job.base.size <= kMaxSideBySideBaseBytes;
  if (segments >= cores || jobs.size() == 1 || !small_bases) {
    delta_options.threads = cores;
    for (DeltaJob& job : jobs) {
      job.ok = MakeDeltaFile(store.FileOf(job.base), file.disk_path, job.writing, delta_options, progress,
                             &job.made, &job.error);
      progress->FileDone(file.size);
    }
    return;
  }
  delta_options.threads = 1;
  for (size_t first = 0; first < jobs.size(); first += cores) {
    const size_t end = std::min(jobs.size(), first + cores);
    std::vector<std::thread> threads;
    for (size_t k = first; k < end; ++k) {
      threads.emplace_back([&, k] {
        DeltaJob& job = jobs[k];
        job.ok = MakeDeltaFile(store.FileOf(job.base), file.disk_path, job.writing, delta_options, nullptr,
                               &job.made, &job.error);
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t k = first; k < end; ++k) progress->FileDone(file.size);
  }
}

// The smallest form every player can use (no delta: each needs its own
// base), or the file itself.
int64_t SmallestForm(const ClientFile& file) {
  int64_t smallest = file.size;
  for (const list::FormLine& form : file.forms)
    if (form.kind != list::FormKind::kDelta) smallest = std::min(smallest, form.size);
  return smallest;
}

// Moves a made patch to its content's name (never over a form already
// there) and names it in the file's forms when it is smaller than the rest.
bool PlaceDelta(const rt::Text& server_root, DeltaJob* job, ClientFile* file, FormsSummary* summary) {
  const rt::Text base_text =
      "release " + rt::ToText(job->base.checksum) + " (" + ByteAmount(job->base.size, job->base.size) + ")";
  const int64_t smallest = SmallestForm(*file);
  if (static_cast<int64_t>(job->made.patch_bytes) >= smallest) {
    rt::RemoveFile(job->writing);
    PrintOut("no delta of " + Shown(file->list_path) + " from its " + base_text + ": " +
             ByteAmount(static_cast<int64_t>(job->made.patch_bytes), job->made.patch_bytes) +
             ", no smaller than its other forms");
    return true;
  }
  const std::optional<FileHashes> hashes = HashFile(job->writing, true);
  if (!hashes || !hashes->digest) {
    rt::RemoveFile(job->writing);
    ReportError("publish: cannot read back " + Shown(job->writing) + "; the old list stays");
    return false;
  }
  list::FormLine form;
  form.kind = list::FormKind::kDelta;
  form.output_size = file->size;
  form.size = hashes->digest->size;
  form.sha256 = hashes->digest->sha256;
  form.name = rt::Text(list::kFormsFolder) + list::Sha256Hex(form.sha256) + kDeltaFormSuffix;
  form.base = list::FormBase{job->base.size, rt::ToText(job->base.checksum)};
  const rt::Text target = JoinDiskPath(server_root, form.name);
  if (rt::FileSize64(target) == form.size) {
    rt::RemoveFile(job->writing);
  } else if (!ReplaceFile(job->writing, target)) {
    rt::RemoveFile(job->writing);
    ReportError("publish: cannot write " + Shown(target) + "; the old list stays");
    return false;
  }
  ++summary->deltas;
  summary->delta_saved += file->size - form.size;
  PrintOut("delta of " + Shown(file->list_path) + " from its " + base_text + ": " +
           ByteAmount(file->size, file->size) + " to " + ByteAmount(form.size, form.size) + ", saves " +
           Percent(file->size - form.size, file->size) + " (" + Shown(form.name) + ")");
  file->forms.push_back(form);
  return true;
}

// The release a client file is: its SHA-256 from the list's digest, from the
// store when its newest release has the same size and checksum and the file
// did not change, else read.
std::optional<Release> CurrentRelease(const ClientFile& file, bool changed, const ReleaseStore& store) {
  Release release;
  release.size = file.size;
  release.checksum = file.checksum;
  if (file.digest) {
    release.sha256 = file.digest->sha256;
    return release;
  }
  const std::vector<Release> known = store.Of(file.list_path);
  if (!changed && !known.empty() && known.front().size == file.size && known.front().checksum == file.checksum)
    return known.front();
  const std::optional<FileHashes> hashes = HashFile(file.disk_path, true);
  if (!hashes || !hashes->digest || hashes->checksum != file.checksum) return std::nullopt;
  release.sha256 = hashes->digest->sha256;
  return release;
}

bool PublishDeltas(const rt::Text& server_root, const PublishFormsOptions& options, const std::vector<bool>& changed,
                   ReleaseStore* releases, ClientTree* tree, FormsSummary* summary) {
  ReleaseStore& store = *releases;
  std::vector<DeltaFile> files;
  size_t patches = 0;
  int64_t bytes = 0;
  for (size_t i = 0; i < tree->files.size(); ++i) {
    const ClientFile& file = tree->files[i];
    if (file.size < kMinDeltaFileSize) continue;
    const std::optional<Release> current = CurrentRelease(file, changed[i], store);
    if (!current) {
      ReportError("publish: cannot read " + Shown(file.disk_path) + "; the old list stays");
      return false;
    }
    DeltaFile delta_file{i, *current, {}};
    if (changed[i]) {
      for (const Release& base : store.Of(file.list_path)) {
        if (base == *current) continue;
        DeltaJob job;
        job.base = base;
        delta_file.jobs.push_back(job);
      }
    }
    patches += delta_file.jobs.size();
    bytes += file.size * static_cast<int64_t>(delta_file.jobs.size());
    files.push_back(delta_file);
  }
  if (patches > 0) {
    rt::Text forms_folder;
    if (!MakeFormsFolder(server_root, &forms_folder)) return false;
    PrintOut("making " + std::to_string(patches) + " delta patches from earlier releases, " +
             std::to_string(std::max(1u, std::thread::hardware_concurrency())) + " threads");
    Progress progress("delta", static_cast<int64_t>(patches), bytes);
    for (DeltaFile& delta_file : files) {
      ClientFile& file = tree->files[delta_file.index];
      for (size_t k = 0; k < delta_file.jobs.size(); ++k)
        delta_file.jobs[k].writing = forms_folder + "/" + std::to_string(delta_file.index).c_str() + "-" +
                                     std::to_string(k).c_str() + kDeltaFormSuffix + kWritingSuffix;
      MakeDeltas(store, file, options, &delta_file, &progress);
      for (DeltaJob& job : delta_file.jobs) {
        if (!job.ok) {
          rt::RemoveFile(job.writing);
          ReportError("publish: delta of " + Shown(file.list_path) + ": " + job.error + "; the old list stays");
          return false;
        }
        if (!PlaceDelta(server_root, &job, &file, summary)) return false;
      }
    }
  }
  for (const DeltaFile& delta_file : files) {
    const ClientFile& file = tree->files[delta_file.index];
    if (!store.Add(file.list_path, delta_file.current, file.disk_path)) {
      ReportError("publish: cannot keep the release of " + Shown(file.list_path) + " in " +
                  Shown(store.folder_path()) + "; the old list stays");
      return false;
    }
  }
  return true;
}

}  // namespace

bool PublishForms(const rt::Text& server_root, const rt::Bytes& replaced, const std::vector<bool>& copied,
                  const PublishFormsOptions& options, ReleaseStore* releases, ClientTree* tree,
                  FormsSummary* summary) {
  std::map<rt::Text, const list::PatchEntry*> old_entries;
  const std::vector<list::PatchEntry> replaced_entries = ReplacedEntries(replaced);
  for (const list::PatchEntry& entry : replaced_entries) old_entries[entry.path] = &entry;

  std::vector<size_t> to_compress;
  std::vector<bool> changed(tree->files.size(), false);
  int64_t bytes_to_compress = 0;
  for (size_t i = 0; i < tree->files.size(); ++i) {
    ClientFile& file = tree->files[i];
    const auto old = old_entries.find(file.list_path);
    const bool same_as_listed = old != old_entries.end() && old->second->checksum == rt::ToText(file.checksum) &&
                                old->second->digest == file.digest;
    bool compress = copied[i] || !same_as_listed;
    changed[i] = compress;
    if (!compress) {
      file.forms = KeptForms(*old->second, file, server_root);
      summary->kept += static_cast<int64_t>(file.forms.size());
      // A copy the replaced list named but the server lost is made again.
      compress = HasCopy(old->second->forms) && !HasCopy(file.forms);
    }
    if (compress && file.size >= kMinCompressedFileSize) {
      to_compress.push_back(i);
      bytes_to_compress += file.size;
    }
  }
  if (to_compress.empty()) return PublishDeltas(server_root, options, changed, releases, tree, summary);

  rt::Text forms_folder;
  if (!MakeFormsFolder(server_root, &forms_folder)) return false;
  Compressor compressor;
  PrintOut("compressing " + std::to_string(to_compress.size()) + " files with zstd level " +
           std::to_string(kCompressionLevel) + ", " + std::to_string(compressor.workers()) + " workers");
  Progress progress("compress", static_cast<int64_t>(to_compress.size()), bytes_to_compress);
  for (size_t index : to_compress) {
    ClientFile& file = tree->files[index];
    const rt::Text writing = forms_folder + "/" + std::to_string(index).c_str() + kWritingSuffix;
    const CompressedCopy copy = compressor.Compress(file.disk_path, file.size, writing, forms_folder, &progress);
    progress.FileDone(file.size);
    switch (copy.outcome) {
      case CompressedCopy::Outcome::kFailed:
        ReportError("publish: compressed copy of " + Shown(file.list_path) + ": " + copy.error +
                    "; the old list stays");
        return false;
      case CompressedCopy::Outcome::kNotSmaller:
        ++summary->not_smaller;
        PrintOut("no compressed copy of " + Shown(file.list_path) + ": it would save under " +
                 std::to_string(kMinSavingPercent) + "%");
        break;
      case CompressedCopy::Outcome::kMade:
        ++summary->made;
        summary->saved += file.size - copy.form.size;
        file.forms.push_back(copy.form);
        PrintOut("compressed " + Shown(file.list_path) + ": " + ByteAmount(file.size, file.size) + " to " +
                 ByteAmount(copy.form.size, copy.form.size) + ", saves " + Percent(file.size - copy.form.size, file.size) +
                 " (" + Shown(copy.form.name) + ")");
        break;
    }
  }
  return PublishDeltas(server_root, options, changed, releases, tree, summary);
}

}  // namespace patchtool
