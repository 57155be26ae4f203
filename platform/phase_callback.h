// The one report type of the download and install phases: (code, number,
// text). The number is a progress fraction for progress codes and a small
// result value otherwise; the text is valid only during the call.
// Downloaders, runners and the orchestrator call it on their own worker
// threads; receivers move what they need to their own thread.
#pragma once

#include <cstdint>
#include <functional>

using PhaseCallback = std::function<void(int32_t code, double number, const wchar_t* text)>;
