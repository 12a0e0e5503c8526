// The one dialog the worker needs: the serial-number confirmation.
//
// mainboard/ never includes the user interface. The user interface installs a
// prompt at start (tests install their own); ConfirmSerialNumber asks it. The
// call blocks the worker without a time limit until the user has answered.
#pragma once

#include <cstdint>

class ISerialNumberPrompt {
 public:
  virtual ~ISerialNumberPrompt() = default;
  // Shows the serial-number dialog starting at initialValue. True when the
  // user confirmed with OK; value then holds the number (1 to 99999999).
  virtual bool AskSerialNumber(int32_t initialValue, int32_t& value) = 0;
};

// The prompt in use; null when none is installed (the dialog then counts as
// cancelled).
void SetSerialNumberPrompt(ISerialNumberPrompt* prompt);
ISerialNumberPrompt* GetSerialNumberPrompt();
