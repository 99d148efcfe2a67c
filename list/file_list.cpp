#include "list/file_list.h"

#include <cstring>

#include "list/entry_names.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace list {
namespace {

constexpr size_t kHashLinePrefixLength = sizeof(kHashLinePrefix) - 1;

// Calls `line(text)` for every line as SplitText at CR LF gives them (GBK-aware:
// a lead byte takes the CR after it as its trail, so that is no line end; an
// empty last piece dropped), without holding them all.
template <typename Visit>
void ForEachLine(const rt::Text& content, Visit line) {
  size_t start = 0, i = 0;
  while (i < content.size()) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
      line(content.substr(start, i - start));
      i += 2;
      start = i;
    } else {
      i += rt::GbkCharLength(content, i);
    }
  }
  if (start < content.size()) line(content.substr(start));
}

// Follows the lines of a list, entry by entry: counts them, or keeps them
// with their digests, and finds the first fault.
class Reader {
 public:
  Reader(HashLines hashes, std::vector<PatchEntry>* keep) : hashes_(hashes), keep_(keep) {}

  void Line(const rt::Text& line) {
    if (fault_ != ListFault::kNone) return;
    rt::TextArray fields = rt::SplitText(line, "#");
    if (fields.size() == 2) {
      Entry(std::move(fields));
      return;
    }
    const bool hash_line = rt::StartsWith(line, kHashLinePrefix);
    if (hash_line && hashes_ == HashLines::kRequired) {
      Hash(line);
      return;
    }
    if (awaiting_hash_) {
      fault_ = ListFault::kMissingHash;
      return;
    }
    after_hash_ = false;
    const FormParse form = ParseFormLine(line);
    if (form.read != FormRead::kNotForm) {
      Form(form);
      return;
    }
    // A skipped hash line stays between an entry and its forms.
    if (!hash_line) forms_open_ = false;
  }

  // After the last line: the last entry's hash line may be missing too.
  ListFault Finish() {
    if (fault_ == ListFault::kNone && awaiting_hash_) fault_ = ListFault::kMissingHash;
    return fault_;
  }
  size_t entries() const { return entries_; }
  const rt::Text& refused_path() const { return refused_path_; }

 private:
  void Entry(rt::TextArray fields) {
    if (awaiting_hash_) {
      fault_ = ListFault::kMissingHash;
      return;
    }
    const bool harmless = fields[0].empty() && fields[1] == "0";
    if (!harmless && !CheckEntryPath(fields[0]).ok()) {
      fault_ = ListFault::kUnsafeName;
      refused_path_ = fields[0];
      return;
    }
    ++entries_;
    if (keep_ != nullptr) keep_->push_back(PatchEntry{std::move(fields[0]), std::move(fields[1]), std::nullopt});
    awaiting_hash_ = hashes_ == HashLines::kRequired;
    after_hash_ = false;
    forms_open_ = true;
    form_keys_.clear();
    entry_size_.reset();
  }

  void Form(const FormParse& parse) {
    if (!forms_open_) {
      fault_ = ListFault::kStrayForm;
      return;
    }
    if (parse.read == FormRead::kUnknownKind) return;
    if (parse.read == FormRead::kMalformed || (entry_size_ && *entry_size_ != parse.form.output_size)) {
      fault_ = ListFault::kMalformedForm;
      return;
    }
    for (const FormKey& key : form_keys_) {
      if (key.kind == parse.form.kind && key.base == parse.form.base) {
        fault_ = ListFault::kRepeatedForm;
        return;
      }
    }
    form_keys_.push_back(FormKey{parse.form.kind, parse.form.base});
    if (keep_ != nullptr) keep_->back().forms.push_back(parse.form);
  }

  void Hash(const rt::Text& line) {
    if (!awaiting_hash_) {
      fault_ = after_hash_ ? ListFault::kRepeatedHash : ListFault::kStrayHash;
      return;
    }
    const std::optional<FileDigest> digest = ParseHashLine(line);
    if (!digest) {
      fault_ = ListFault::kMalformedHash;
      return;
    }
    if (keep_ != nullptr) keep_->back().digest = *digest;
    entry_size_ = digest->size;
    awaiting_hash_ = false;
    after_hash_ = true;
  }

  // What makes two forms of one entry the same.
  struct FormKey {
    FormKind kind;
    std::optional<FormBase> base;
  };

  HashLines hashes_;
  std::vector<PatchEntry>* keep_;
  ListFault fault_ = ListFault::kNone;
  size_t entries_ = 0;
  bool awaiting_hash_ = false;  // the last line was an entry that needs its hash line
  bool after_hash_ = false;     // the last line was an entry's hash line
  bool forms_open_ = false;     // since the last entry only its hash line and forms
  std::vector<FormKey> form_keys_;      // of the last entry's forms
  std::optional<int64_t> entry_size_;  // the last entry's size from its hash line
  rt::Text refused_path_;
};

}  // namespace

const char* ToString(ListFault fault) {
  switch (fault) {
    case ListFault::kNone: return "usable";
    case ListFault::kEmpty: return "empty";
    case ListFault::kErrorPage: return "an error page (\"<\")";
    case ListFault::kUnsafeName: return "an entry whose name the updater refuses";
    case ListFault::kMissingHash: return "an entry without its hash line";
    case ListFault::kRepeatedHash: return "an entry with two hash lines";
    case ListFault::kMalformedHash: return "a malformed hash line";
    case ListFault::kStrayHash: return "a hash line after a line that is no entry";
    case ListFault::kMalformedForm: return "a malformed form line";
    case ListFault::kRepeatedForm: return "an entry with two forms of one kind and base";
    case ListFault::kStrayForm: return "a form line that follows no entry";
  }
  return "unknown";
}

rt::Text HashLine(const FileDigest& digest) {
  return kHashLinePrefix + rt::ToText(digest.size) + "#" + Sha256Hex(digest.sha256);
}

std::optional<FileDigest> ParseHashLine(const rt::Text& line) {
  if (!rt::StartsWith(line, kHashLinePrefix)) return std::nullopt;
  const size_t hash_mark = line.find('#', kHashLinePrefixLength);
  if (hash_mark == rt::Text::npos || line.size() - hash_mark - 1 != kSha256Bytes * 2) return std::nullopt;
  const std::optional<int64_t> size =
      ParseListSize(line.substr(kHashLinePrefixLength, hash_mark - kHashLinePrefixLength));
  const auto hash = ParseSha256Hex(line.substr(hash_mark + 1));
  if (!size || !hash) return std::nullopt;
  return FileDigest{*size, *hash};
}

FileList ParseFileList(const rt::Bytes& body, HashLines hashes) {
  FileList list;
  const rt::Text content = rt::ToText(body);
  if (content.empty()) return list;
  if (rt::FindText(content, "<") != -1) {
    list.fault = ListFault::kErrorPage;
    return list;
  }
  Reader counter(hashes, nullptr);
  ForEachLine(content, [&counter](const rt::Text& line) { counter.Line(line); });
  list.fault = counter.Finish();
  if (!list.usable()) {
    list.refused_path = counter.refused_path();
    return list;
  }
  list.entries.reserve(counter.entries());
  Reader reader(hashes, &list.entries);
  ForEachLine(content, [&reader](const rt::Text& line) { reader.Line(line); });
  list.fault = reader.Finish();
  return list;
}

rt::Bytes FormatFileList(const std::vector<PatchEntry>& entries) {
  rt::Text text;
  for (const PatchEntry& entry : entries) {
    text += entry.path + "#" + entry.checksum + "\r\n";
    if (entry.digest) text += HashLine(*entry.digest) + "\r\n";
    for (const FormLine& form : entry.forms) text += FormatFormLine(form) + "\r\n";
  }
  return rt::Bytes(text.begin(), text.end());
}

}  // namespace list
