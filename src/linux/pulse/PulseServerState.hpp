#pragma once

#include <somnara/platform/AudioSession.hpp>

#include <pulse/introspect.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace somnara {

/// A sink as the session last saw it.
struct PulseSink {
    std::string name;
    std::string description;
    /// The active port's name and description; empty for a sink without ports (a null sink).
    std::string port;
    std::string portDescription;
    /// The active port's kind, one of `AudioSessionPort`'s names.
    std::string portType;
    /// Ports whose jack or device is known to be absent.
    std::vector<std::string> unavailablePorts;
    /// 0 to 1, 0 when muted.
    float volume = 0;
    std::uint32_t rate = 0;

    /// Reads a sink as libpulse describes it.
    static PulseSink from(const pa_sink_info& info);
    /// The sink as an output of the route.
    AudioSessionPortDescription output() const;
    bool isPortUnavailable(const std::string& name) const;

    friend bool operator==(const PulseSink&, const PulseSink&) = default;
};

/// What the session knows of the server: its default sink and its sinks.
struct PulseServerState {
    std::string defaultSink;
    std::vector<PulseSink> sinks;

    /// The sink named `name`; null when the server has none.
    const PulseSink* find(const std::string& name) const;
};

/// The kind of output a port is: a USB or Bluetooth device by its bus, else by PulseAudio's port type
/// (`pa_device_port_type_t`), else by words in the port's name; a sink without ports is "Other".
const char* audioSessionPortType(int portType, std::string_view portName, std::string_view bus);

} // namespace somnara
