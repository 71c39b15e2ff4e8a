#pragma once
// CArchive: the stream a document serializes to or from (a file opened by the framework).
#include <windows.h>

#include <string>

class CArchive {
 public:
  enum Mode { load = 1, store = 2 };
  CArchive(HANDLE file, Mode mode, std::string path) : file_(file), mode_(mode), path_(std::move(path)) {}
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsStoring() const { return mode_ == store; }
  BOOL IsLoading() const { return mode_ == load; }
  const std::string& GetFilePath() const { return path_; }
  // Raw bytes; FALSE on a write error or a short read.
  BOOL Write(const void* data, UINT size);
  UINT Read(void* data, UINT size);
  BOOL failed() const { return failed_; }

 private:
  HANDLE file_;  // owned by the caller
  Mode mode_;
  std::string path_;
  BOOL failed_ = FALSE;
};
