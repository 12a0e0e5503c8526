// The model catalogue's rules, as tables.
#include "discovery/ModelCatalogue.h"
#include "serial/SerialPort.h"

#include <gtest/gtest.h>

using catalogue::Check;

TEST(Catalogue, ModelListOrderDecides) {
  struct Case {
    const char* answer;
    Check check;
    int32_t model;
  };
  const Case cases[] = {
      // The revision-3 programmer ("F" entries) before the plain model names.
      {"Solstrand K4v FLASH Prog v1.01", Check::Probe, 12},
      {"Solstrand K4v EEPROM Prog v1.01", Check::Probe, 11},
      {"QOR 60v FLASH Prog v1.00", Check::Probe, 8},
      {"QOR 60v EEPROM Prog v1.00", Check::Probe, 7},
      {"Solstrand K4v v3.10\r\n", Check::Probe, 11},
      {"SOLSTRAND K4v3 ISP", Check::Probe, 12},
      {"SOLSTRAND K4v2 ISP 240V", Check::Connection, 11},
      // No model-list entry for a QOR 70: the default code 1.
      {"QOR 70 V2.5\r\n", Check::Probe, 1},
      // The capital-letter entries belong to the connection check only.
      {"SOLSTRAND K4 ISP", Check::Connection, 10},
      {"SOLSTRAND K4 ISP", Check::Probe, 1},
      {"SOLSTRAND K3 ISP", Check::Connection, 9},
      {"Solstrand K3 v2.1", Check::Probe, 9},
  };
  for (const Case& c : cases) EXPECT_EQ(catalogue::ModelFromList(c.answer, c.check), c.model) << c.answer;
}

TEST(Catalogue, AcceptanceListsOfTheTwoChecks) {
  struct Case {
    const char* answer;
    bool probe, connection;
  };
  const Case cases[] = {
      {"SOLSTRAND K4v2 ISP", true, true},
      {"SOLSTRAND K4v3 ISP", true, true},
      {"SOLSTRAND K4 ISP", false, true},
      {"SOLSTRAND K3 ISP", false, true},
      {"Solstrand K4v v3.10", true, true},
      {"DVB BOOT GF9452v 0.24", false, false},
      {"Invalid Command", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(catalogue::IsAccepted(c.answer, Check::Probe), c.probe) << c.answer;
    EXPECT_EQ(catalogue::IsAccepted(c.answer, Check::Connection), c.connection) << c.answer;
  }
  EXPECT_EQ(sizeof catalogue::ACCEPTANCE_LIST / sizeof catalogue::ACCEPTANCE_LIST[0], 23u);
}

TEST(Catalogue, IdentificationTablesInOrder) {
  EXPECT_EQ(catalogue::FindLoaderEntry("SOLSTRAND K4v3 ISP")->model, 12);
  EXPECT_EQ(catalogue::FindLoaderEntry("xx SOLSTRAND K4v2 ISP 240V")->model, 11);
  EXPECT_EQ(catalogue::FindLoaderEntry("QOR 60v3 ISP")->model, 8);
  EXPECT_EQ(catalogue::FindLoaderEntry("Solstrand K4v v3.10"), nullptr);
  const auto* k3v2 = catalogue::FindProgrammerEntry("Solstrand K3v2 EEPROM Prog v1.0");
  ASSERT_NE(k3v2, nullptr);
  EXPECT_EQ(k3v2->model, 9);
  EXPECT_EQ(k3v2->setFlags, HW_QOR90_VIDEO);
  EXPECT_STREQ(catalogue::FindApplicationEntry("Solstrand K4v 3D v3.10"), "Solstrand K4v 3D v");
  EXPECT_STREQ(catalogue::FindApplicationEntry("QOR 70 V2.5"), "QOR 70 V");
  EXPECT_EQ(catalogue::FindApplicationEntry("Solstrand K4v EEPROM Prog v1.01"), nullptr);
}

TEST(Catalogue, SetModelIfUnknownPerState) {
  struct Case {
    int32_t state, before, offered, after;
  };
  const Case cases[] = {
      {CONNECT_APPLICATION, 11, 12, 11}, {CONNECT_PROGRAMMER, 11, 12, 11}, {CONNECT_DEBUG, 11, 12, 11},
      {CONNECT_LOADER, 11, 12, 12},      {CONNECT_NONE, 11, 12, 12},       {CONNECT_APPLICATION, 13, 12, 12},
      {CONNECT_VIDEO_LOADER, 13, 12, 12},
  };
  for (const Case& c : cases) {
    CSerialPort port;
    port.m_connectState = c.state;
    port.m_model = c.before;
    port.SetModelIfUnknown(c.offered);
    EXPECT_EQ(port.m_model, c.after) << c.state;
  }
}

TEST(Catalogue, FoundTexts) {
  CSerialPort port;
  std::string status = "earlier failure";
  port.m_model = MODEL_UNKNOWN;
  EXPECT_EQ(port.GetModelFoundText(status), 1);
  EXPECT_EQ(status, "earlier failure");
  for (int32_t model : {11, 12}) {
    port.m_model = model;
    EXPECT_EQ(port.GetModelFoundText(status), 1);
    EXPECT_EQ(status, "Solstrand K4v found");
  }
  port.m_model = 8;
  port.GetModelFoundText(status);
  EXPECT_EQ(status, "QOR 60v found");
}

TEST(Catalogue, VideoLoaderIdentification) {
  struct Case {
    const char* text;
    uint16_t before;
    int result;
    uint16_t set;    // bits that must be set afterwards
    uint16_t clear;  // bits that must be clear afterwards
    float version;
  };
  const uint16_t oki = HW_OKI_NEEDS_NEW_LOADER | HW_OKI_NEW_LOADER;
  const Case cases[] = {
      {"GF9452v 0.24", 0, 0, 0, 0xFFFF, -1},  // no "DVB BOOT": nothing changes
      {"DVB BOOT GF9452v 0.24", 0, 1, HW_GF9452V, oki, 0.24f},
      {"DVB BOOT GF9452v 0.23", 0, 1, HW_GF9452V | HW_OKI_NEEDS_NEW_LOADER, HW_OKI_NEW_LOADER, 0.23f},
      {"DVB BOOT GF9452v EXT 0.24", HW_OKI_NEEDS_NEW_LOADER, 1, HW_GF9452V | HW_OKI_NEW_LOADER | HW_OKI_NEEDS_NEW_LOADER,
       0, 0.24f},
      {"DVB BOOT GF9452 EXT 0.23", 0, 1, HW_GF9452, HW_OKI_NEW_LOADER, 0.23f},
      // Without a video processor name: the 0.07 threshold, >= without EXT, > with it.
      {"DVB BOOT 0.07", 0, 1, HW_GF9351_REV2 | HW_OKI_NEEDS_NEW_LOADER, HW_OKI_NEW_LOADER, 0.07f},
      {"DVB BOOT QOR-90 0.07", 0, 1, HW_GF9351_REV2 | HW_QOR90_VIDEO, oki, 0.07f},
      {"DVB BOOT EXT 0.07", HW_OKI_NEW_LOADER, 1, 0, HW_OKI_NEW_LOADER, 0.07f},
      {"DVB BOOT EXT 0.08", 0, 1, HW_OKI_NEW_LOADER, 0, 0.08f},
      {"DVB BOOT GF9351 0.07", 0, 1, HW_GF9351 | HW_GF9351_REV2, oki, 0.07f},
      {"DVB BOOT GF9351 0.06", 0, 1, HW_GF9351 | HW_OKI_NEEDS_NEW_LOADER, HW_GF9351_REV2, 0.06f},
      // A recognised chip sets only its own bit; no chip clears all three.
      {"DVB BOOT GF9452 0.30", HW_GF9351, 1, HW_GF9351 | HW_GF9452, 0, 0.30f},
      {"DVB BOOT 0.30", HW_GF9351 | HW_GF9452 | HW_GF9452V, 1, 0, HW_GF9351 | HW_GF9452 | HW_GF9452V, 0.30f},
      // A "." as the first character; a version that does not parse.
      {".5 DVB BOOT", 0, 1, 0, 0, 0.5f},
      {"DVB BOOT v.x", 0, 1, HW_OKI_NEEDS_NEW_LOADER, HW_GF9351_REV2, 0.0f},
  };
  for (const Case& c : cases) {
    CSerialPort port;
    port.m_hwFlags = c.before;
    port.m_videoLoaderVersion = -1;
    EXPECT_EQ(port.ParseVideoLoaderIdent(c.text), c.result) << c.text;
    if (c.result == 0) {
      EXPECT_EQ(port.m_hwFlags, c.before) << c.text;
    } else {
      EXPECT_EQ(port.m_hwFlags & c.set, c.set) << c.text;
      EXPECT_EQ(port.m_hwFlags & c.clear, 0) << c.text;
    }
    EXPECT_EQ(port.m_videoLoaderVersion, c.version) << c.text;
  }
  // Without any ".": only the chip bits and the QOR-90 bit change.
  CSerialPort port;
  port.m_hwFlags = HW_OKI_NEEDS_NEW_LOADER | HW_GF9351_REV2;
  port.m_videoLoaderVersion = 0.24f;
  EXPECT_EQ(port.ParseVideoLoaderIdent("DVB BOOT GF9452v QOR-90"), 1);
  EXPECT_EQ(port.m_hwFlags, HW_OKI_NEEDS_NEW_LOADER | HW_GF9351_REV2 | HW_GF9452V | HW_QOR90_VIDEO);
  EXPECT_EQ(port.m_videoLoaderVersion, 0.24f);
}
