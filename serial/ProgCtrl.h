// The progress interface that long operations drive. They know nothing of
// windows or threads; the worker's implementation posts to the progress bar.
#pragma once

#include <cstdint>

class CProgCtrl {
 public:
  virtual ~CProgCtrl() = default;
  virtual void SetRange(int32_t lower, int32_t upper) = 0;
  virtual void SetPos(int32_t pos) = 0;
  virtual void Show(int32_t cmd) = 0;
};
