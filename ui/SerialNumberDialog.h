// CSerialNumberDialog: asks for the unit's serial number (1 to 99999999).
//
// The field shows m_serialNumber (0 at first, which the range check refuses).
// "OK" checks the entry: text that is not a number is refused with "Please
// enter an integer.", a number outside the range with "Please enter an
// integer between 1 and 99999999."; the dialog then stays open with the focus
// on the field. The modal run returns IDOK (1) with m_serialNumber holding
// the number, or IDCANCEL (2).
#pragma once

#include "platform/toolkit/Dialog.h"

#include <cstdint>

class CSerialNumberDialog : public toolkit::CDialog {
 public:
  explicit CSerialNumberDialog(toolkit::CDialog* parent = nullptr);

  static constexpr int32_t MIN_SERIAL_NUMBER = 1;
  static constexpr int32_t MAX_SERIAL_NUMBER = 99999999;

  int32_t m_serialNumber = 0;

 protected:
  void DoDataExchange(toolkit::CDataExchange* pDX) override;
};
