#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/Backend.h"

// A device session (libvelmor/velmor_session.h): one controller, a link and
// an address on it. The link is read when the session opens while no link is
// up: its own text, or the link setting when it has none (the 26 functions'
// default session). The backend is the line client (link/RtuClient.h), made
// anew at each such open, or a share of the process's one virtual controller
// (libvelmor/VirtualShare.h).
struct VLMS_Session {
    // Calls on the session run one at a time, in the order they took it.
    std::mutex Lock;
    bool FromSetting = true; // no text of its own: the link setting
    std::string LinkText;
    int32_t Address = 0; // 0: the link's own

    std::unique_ptr<Device::Backend> Active; // none before the first open or on a malformed link
    std::string SettingError;                // the malformed link's text
    std::string LastError;                   // while there is no backend
};

namespace Velmor {

// Reads the session's link and takes the backend it names, unless a link is
// up. The caller holds the session's lock.
void Choose(VLMS_Session& S);

// Runs Do on the session's backend; without one, the call fails with Text.
// The caller holds the lock.
template <class Op>
VLM_BOOL Run(VLMS_Session& S, Op Do, const char* Text = "Device is not open")
{
    if (S.Active)
        return Do(*S.Active) ? 1 : 0;
    S.LastError = Text;
    return 0;
}

VLM_BOOL Open(VLMS_Session& S);
VLM_BOOL Close(VLMS_Session& S);
VLM_BOOL LastError(VLMS_Session& S, char** Text);

} // namespace Velmor
