#include "ui/download_job.h"

namespace ui {

const char* JobStatusText(JobStatus status) {
  switch (status) {
    case JobStatus::kDownloading:
      return "正在下载";
    case JobStatus::kComplete:
      return "下载完成";
    case JobStatus::kNone:
      break;
  }
  return "";
}

}  // namespace ui
