#pragma once

#include "AudioEngineHost.h"
#include "AudioLibrary.h"

#include <cstdint>
#include <optional>

// The audio graph behind the main window: the device numbers, the handles and
// the operations that power it on and off, route the two radios to the ears
// and mute them. Every operation that acts ends by setting the listening state
// and writing the settings through the host. Knows no widgets; runs on the
// user-interface thread only.
class AudioEngine {
  public:
    static constexpr std::uint32_t kFrequency = 7000;
    static constexpr std::uint32_t kChannels = 2;

    // Rig12: radio 1 left, the second radio right; Reverse: the other way round.
    enum class Route { Rig1, Rig12, Rig2, Reverse };

    // Both must outlive the engine.
    AudioEngine(AudioLibrary &library, AudioEngineHost &host);

    AudioLibrary &library() { return library_; }

    // Device numbers: -1 is the system default, devices count from 0.
    std::int32_t Input1Device = -1;
    std::int32_t Input2Device = -1;
    std::int32_t Input3Device = -1;
    std::int32_t OutputDevice = -1;

    // The second radio's capture device: radio 3's or radio 2's, by the
    // host's choice at the moment of the call.
    std::int32_t SecondInputDevice() const;

    AudioHandle Capture1() const { return capture1_; }
    AudioHandle Capture2() const { return capture2_; }
    AudioHandle Capture3() const { return capture3_; }
    AudioHandle MixerStream() const { return mixerStream_; }
    // Power-on has run at least once since launch; never cleared.
    bool AudioStarted() const { return audioStarted_; }

    // PowerOff unless the listening state is ddOff, else PowerOn.
    void TogglePower();
    // Sets both captures' matrices for `route`, its listening state, and
    // writes the settings.
    void SetRoute(Route route);
    // While latched, the headphones carry `heard` (Rig1 or Rig2) instead of
    // the route set last, which still sets the listening state and comes back
    // when `heard` is nullopt. Only the matrices change, ramped.
    void SetLatchedRoute(std::optional<Route> heard);
    std::optional<Route> LatchedRoute() const { return latched_; }
    // How much of the other radio, 0 to 100 %, each ear hears in Rig12 and
    // Reverse. Only the matrices change, ramped.
    void SetBlendPercent(int percent);
    // Pauses both captures (remembering the state) or resumes them; nothing
    // at all before the first power-on.
    void ToggleMute();
    // RecordFree then Free: run when the window goes, at every end of the
    // process.
    void ReleaseAtShutdown();

  private:
    void PowerOn();
    void PowerOff();
    // The second radio's capture: radio 3's or radio 2's, by the window's
    // choice at the moment of the call.
    AudioHandle &secondCapture();
    // Opens `device`, starts capturing from it into `capture` and plugs the
    // capture into the mixer.
    void startCapture(std::int32_t device, AudioHandle &capture);
    // The matrices of the route heard now: the latched one, or the one set
    // last, blended.
    void writeMatrices();
    void writeMatrix(AudioHandle capture, const RoutingMatrix &matrix);
    // Powered on, so the captures' handles are live.
    bool playing() const;

    AudioLibrary &library_;
    AudioEngineHost &host_;
    AudioHandle capture1_ = 0;
    AudioHandle capture2_ = 0;
    AudioHandle capture3_ = 0;
    AudioHandle mixerStream_ = 0;
    bool audioStarted_ = false;
    RoutingMatrix RouteMatrix{};
    Route route_ = Route::Rig12;
    std::optional<Route> latched_;
    float blend_ = 0.0F;
};
