#include "mainboard/SerialNumberPrompt.h"

#include <atomic>

namespace {
std::atomic<ISerialNumberPrompt*> g_prompt{nullptr};
}

void SetSerialNumberPrompt(ISerialNumberPrompt* prompt) { g_prompt.store(prompt); }
ISerialNumberPrompt* GetSerialNumberPrompt() { return g_prompt.load(); }
