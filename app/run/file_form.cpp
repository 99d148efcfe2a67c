#include "app/run/file_form.h"

namespace app {

FileForm ChooseForm(const list::PatchEntry& entry) {
  FileForm form;
  form.resource = entry.path;
  form.digest = entry.digest;
  form.transform = FormTransform::kNone;
  return form;
}

}  // namespace app
