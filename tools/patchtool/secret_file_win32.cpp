#include "runtime/encoding.h"
#include "runtime/win32/win.h"
#include "tools/patchtool/secret_file.h"

namespace patchtool {

SecretFileResult WriteNewSecretFile(const rt::Text& path, const rt::Text& content) {
  const std::u16string wide = rt::GbkToUtf16(path);
  const LPCWSTR name = reinterpret_cast<LPCWSTR>(wide.c_str());
  // CREATE_NEW: never overwrite. The file inherits the folder's permissions.
  HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? SecretFileResult::kExists
                                                                        : SecretFileResult::kFailed;
  }
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  const bool ok = CloseHandle(file) && wrote && written == content.size();
  if (!ok) DeleteFileW(name);
  return ok ? SecretFileResult::kWritten : SecretFileResult::kFailed;
}

}  // namespace patchtool
