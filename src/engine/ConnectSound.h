#pragma once

namespace sw {

class TSoundPlayer;

// Starts the connect sound when "Connect" of section "Sound" is on and the file named by
// "ConnectFile" exists; returns whether a sound was started. Never waits for the sound.
bool PlayConnectSound(TSoundPlayer& player);

} // namespace sw
