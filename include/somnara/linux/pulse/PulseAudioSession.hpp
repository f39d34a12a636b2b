#pragma once

#include <somnara/platform/AudioSession.hpp>

#include <memory>
#include <string>

namespace somnara {

/// Makes the audio session over PulseAudio, on the current loop (which it must not outlive).
///
/// - Active: the "pulse" output's stream exists and is uncorked. Activation fails with
///   `AudioOutputErrc::serverUnreachable` while no server answers.
/// - Without mixing with others, a cork request (module-role-cork, when a "phone" stream starts)
///   corks our stream and posts an interruption that began; the uncork request that follows the
///   call posts one that ended with should-resume, and the next activation uncorks the stream.
///   Mixing with others, cork requests are ignored.
/// - The route is the sink and active port our stream plays on, or the default sink without a
///   stream; a move of the stream or a switch of the sink's port posts a route change.
/// - The output volume is the route sink's; a change posts `outputVolumeChangeNotification`.
/// - Losing the server posts media services lost; the session reconnects by itself, backing off up
///   to a few seconds between tries, and posts media services reset when the server is back.
/// - The stream failing, or the rate of the sink it plays on changing, posts an engine
///   configuration change.
///
/// Connects once before returning, so the route and volume are known at once when a server runs.
std::shared_ptr<AudioSession> makePulseAudioSession(const std::string& applicationName = "somnara");

} // namespace somnara
