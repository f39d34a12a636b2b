#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace somnara {

/// One output of the audio route: where our sound is heard.
struct AudioSessionPortDescription {
    /// What kind of output it is: one of `AudioSessionPort`'s names.
    std::string portType;
    /// The output's name for people ("Speaker", "Headphones", "USB Audio DAC").
    std::string portName;
    /// What tells two outputs of the same kind apart (for PulseAudio: the sink and its port).
    std::string uid;

    friend bool operator==(const AudioSessionPortDescription&, const AudioSessionPortDescription&) = default;
};

/// The outputs our sound plays on now.
struct AudioSessionRouteDescription {
    std::vector<AudioSessionPortDescription> outputs;

    friend bool operator==(const AudioSessionRouteDescription&,
                           const AudioSessionRouteDescription&) = default;
};

/// The kinds of output a route can hold.
namespace AudioSessionPort {
inline constexpr const char* builtInSpeaker = "Speaker";
inline constexpr const char* headphones = "Headphones";
inline constexpr const char* lineOut = "LineOut";
inline constexpr const char* hdmi = "HDMI";
inline constexpr const char* bluetoothA2DP = "BluetoothA2DPOutput";
inline constexpr const char* usbAudio = "USBAudio";
/// A virtual or unknown output (a null sink, a network sink).
inline constexpr const char* other = "Other";
} // namespace AudioSessionPort

/// The process's share of the system's audio: the category it asks for, whether it is active, the route
/// its sound takes, and the notifications of interruptions, route changes and the sound server coming and
/// going. The notifications are posted on the loop's `NotificationCenter` under the names below.
///
/// Threads: loop only. Back ends that hear of events on a thread of their own post them to the loop.
class AudioSession {
public:
    /// How other programs' requests to quiet us are taken.
    enum class RouteSharingPolicy {
        /// Mix with others: a request to quiet us is ignored.
        defaultPolicy = 0,
        /// Long-form audio: a request to quiet us (a call starting) interrupts us.
        longFormAudio = 1,
    };

    // Notification names.
    static constexpr const char* routeChangeNotification = "AudioSessionRouteChangeNotification";
    static constexpr const char* interruptionNotification = "AudioSessionInterruptionNotification";
    static constexpr const char* mediaServicesWereLostNotification =
        "AudioSessionMediaServicesWereLostNotification";
    static constexpr const char* mediaServicesWereResetNotification =
        "AudioSessionMediaServicesWereResetNotification";
    /// The output's format changed or its stream was lost: the engine must be rebuilt.
    static constexpr const char* engineConfigurationChangeNotification =
        "AudioEngineConfigurationChangeNotification";
    /// `outputVolume()` changed.
    static constexpr const char* outputVolumeChangeNotification =
        "AudioSessionOutputVolumeChangeNotification";

    // User-info keys, each an `std::uint64_t` in the notification's `std::any`.
    static constexpr const char* routeChangeReasonKey = "AudioSessionRouteChangeReasonKey";
    static constexpr const char* interruptionTypeKey = "AudioSessionInterruptionTypeKey";
    static constexpr const char* interruptionOptionKey = "AudioSessionInterruptionOptionKey";

    /// Why the route changed (`routeChangeReasonKey`).
    enum class RouteChangeReason : std::uint64_t {
        unknown = 0,
        newDeviceAvailable = 1,
        oldDeviceUnavailable = 2,
        categoryChange = 3,
        override_ = 4,
        wakeFromSleep = 6,
        noSuitableRouteForCategory = 7,
        routeConfigurationChange = 8,
    };
    /// `interruptionTypeKey`: began 1, ended 0.
    enum class InterruptionType : std::uint64_t { ended = 0, began = 1 };
    /// `interruptionOptionKey` of an ended interruption: 1 when we should resume.
    static constexpr std::uint64_t interruptionOptionShouldResume = 1;

    virtual ~AudioSession() = default;

    /// The process's session: the one given to `setShared`, else one without a sound server, which
    /// activates, has one output of kind `AudioSessionPort::other` at full volume and announces nothing.
    static const std::shared_ptr<AudioSession>& shared();
    static void setShared(std::shared_ptr<AudioSession> session);

    /// Asks for playback with `policy`, mixing with others or not. Throws `std::system_error`.
    virtual void setCategory(RouteSharingPolicy policy, bool mixWithOthers) = 0;
    /// Activates or deactivates our share. Throws `std::system_error` (e.g. no sound server).
    virtual void setActive(bool active) = 0;
    virtual AudioSessionRouteDescription currentRoute() const = 0;
    /// The output's volume, 0 to 1 (0 when muted).
    virtual float outputVolume() const = 0;
};

} // namespace somnara
