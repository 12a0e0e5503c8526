#include "ui/SerialNumberDialog.h"

#include "ui/Resource.h"

CSerialNumberDialog::CSerialNumberDialog(toolkit::CDialog* parent) : CDialog(UiTemplate(IDD_SERIAL_NUMBER_DIALOG), parent) {}

void CSerialNumberDialog::DoDataExchange(toolkit::CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  toolkit::DDX_Text(pDX, IDC_SERIAL_NUMBER, m_serialNumber);
  toolkit::DDV_MinMaxLong(pDX, m_serialNumber, MIN_SERIAL_NUMBER, MAX_SERIAL_NUMBER);
}
