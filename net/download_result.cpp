#include "net/download_result.h"

namespace net {

const char* ToString(DownloadResult result) {
  switch (result) {
    case DownloadResult::Ok: return "Ok";
    case DownloadResult::SocketFailed: return "SocketFailed";
    case DownloadResult::BindFailed: return "BindFailed";
    case DownloadResult::ConnectFailed: return "ConnectFailed";
    case DownloadResult::SendFailed: return "SendFailed";
    case DownloadResult::SizeMismatch: return "SizeMismatch";
    case DownloadResult::BadStatus: return "BadStatus";
    case DownloadResult::InstallFailed: return "InstallFailed";
    case DownloadResult::Interrupted: return "Interrupted";
    case DownloadResult::WriteFailed: return "WriteFailed";
    case DownloadResult::ServerError: return "ServerError";
    case DownloadResult::ProxyAuthRequired: return "ProxyAuthRequired";
  }
  return "Unknown";
}

}  // namespace net
