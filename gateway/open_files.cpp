#include "gateway/open_files.h"

#include <sys/resource.h>

#include <algorithm>

#include "gateway/event_log.h"

namespace talmery {

bool ShareOpenFiles(long limit, int lines, OpenFiles& share, std::string& error) {
  share.limit = limit;
  share.lineFiles = 4L * std::max(lines, 0) + 64;
  if (share.lineFiles > limit) {
    error = "max_calls = " + std::to_string(lines) + " needs " + std::to_string(share.lineFiles) +
            " open files; the limit is " + std::to_string(limit);
    return false;
  }
  const long spare = (limit - share.lineFiles - kFilesOfTheProcess) / 2;
  share.httpConnections = static_cast<unsigned>(
      std::clamp(spare, static_cast<long>(kMinHttpConnections), static_cast<long>(kMaxHttpConnections)));
  return true;
}

bool TakeOpenFiles(int lines, EventLog& log, OpenFiles& share, std::string& error) {
  rlimit files{};
  long limit = 1024;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    const rlim_t wanted = std::min<rlim_t>(files.rlim_max, kMaxOpenFiles);
    if (files.rlim_cur != wanted) {
      files.rlim_cur = wanted;
      setrlimit(RLIMIT_NOFILE, &files);
      getrlimit(RLIMIT_NOFILE, &files);
    }
    limit = static_cast<long>(std::min<rlim_t>(files.rlim_cur, kMaxOpenFiles));
  }
  if (!ShareOpenFiles(limit, lines, share, error)) return false;
  if (share.httpConnections < kMaxHttpConnections)
    log.Write("files", {{"limit", std::to_string(limit)},
                        {"connections", std::to_string(share.httpConnections)},
                        {"reason", "the open-file limit holds " + std::to_string(share.httpConnections) + " HTTP connections of " +
                                       std::to_string(kMaxHttpConnections) + ": raise LimitNOFILE"}});
  return true;
}

}  // namespace talmery
