#pragma once

#include "Http.h"

#include <functional>

// The parts of a multi-part put go through an HTTP module on a thread of their own. Qt's network
// layer feeds a request body to its socket 16 KiB at a time from the thread that owns the
// manager: on the main thread that is tens of thousands of file reads and cross-thread hand-overs
// per GiB, and every one waits behind whatever else the editor is doing (and holds it up). The
// control calls of the transfer (create, list, complete, abort) are small and stay on the host's
// module.
namespace AwsS3
{
// The module that sends parts, started on first use and ended with the application. Requests are
// made from it on the main thread; everything else on them goes through RunOnTransferThread.
FHttpModule& TransferModule();
// Runs Work on the transfer thread, after everything posted there before it.
void RunOnTransferThread(std::function<void()> Work);
// Runs Work on the main thread, later. Whatever it touches that may be gone by then, it checks
// through a guard made on the main thread.
void RunOnMainThread(std::function<void()> Work);
} // namespace AwsS3
