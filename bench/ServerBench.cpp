#include "ServerBench.h"

#include "GraphStalls.h"
#include "PipeWireAudioLibrary.h"
#include "PlainRelay.h"
#include "PulseAudioLibrary.h"
#include "ServerProbe.h"
#include "StepDeadline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 7000;
constexpr std::uint32_t kRecordRate = 16000;
constexpr double kClickPeriodMs = 100;
constexpr double kRoutedSeconds = 20;
constexpr double kBaselineSeconds = 10;
constexpr float kOnsetLevel = 0.2f;
// The plain relay the library's path has to beat, delay and dropouts both.
constexpr double kRelayFragmentMs = 10;
constexpr double kRelayBufferMs = 20;
// What latency_ms may be on either server for the pass line.
constexpr double kLatencyGoalMs = 15;
// The native back-end's, through one graph.
constexpr double kNativeLatencyGoalMs = 6;
// The graph held still now and then, as on a loaded machine; the period is
// not a multiple of the clicks', so that the stalls fall all over them.
constexpr auto kStall = std::chrono::milliseconds(5);
constexpr auto kStallPeriod = std::chrono::milliseconds(310);
constexpr double kStalledSeconds = kRoutedSeconds;

const char *const kSink = "kaldra_bench";
const char *const kSinkMonitor = "kaldra_bench.monitor";
// One-channel views of the sink for the server's own paths, which cannot
// take a channel to another: on PipeWire each is a loopback of its own.
const char *const kRadio = "kaldra_bench_radio";
const char *const kOutput = "kaldra_bench_out";
// The library's paths take the radio from the monitor's left channel and play
// it into the sink's right one.
const RoutingMatrix kLeftToRight{0, 0, 1, 0};

// CPU time of this process's threads named `name`, in seconds.
double threadCpuSeconds(const std::string &name)
{
    double seconds = 0;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm != name)
            continue;
        std::string stat;
        std::getline(std::ifstream(task.path() / "stat"), stat);
        // Fields after the parenthesised name: state is the 3rd, utime the
        // 14th and stime the 15th of the whole line.
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int index = 3; index <= 15 && fields >> field; ++index)
            if (index >= 14)
                ticks += std::stod(field);
        seconds += ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

// Frame numbers where a click starts in one channel of interleaved stereo.
std::vector<std::size_t> onsets(const std::vector<float> &stereo, int channel)
{
    const auto refractory = static_cast<std::size_t>(kClickPeriodMs / 2 * kRecordRate / 1000);
    std::vector<std::size_t> found;
    for (std::size_t frame = 0; frame < stereo.size() / 2; ++frame) {
        if (std::abs(stereo[2 * frame + channel]) > kOnsetLevel) {
            found.push_back(frame);
            frame += refractory;
        }
    }
    return found;
}

constexpr auto kClickPeriodFrames = static_cast<std::size_t>(kClickPeriodMs * kRecordRate / 1000);

// The clicks sent into the left channel with a whole period of the recording
// before and after them. After, so that their echo falls inside it; before,
// since a new recording of a PulseAudio monitor opens on a click (at its first
// frame, every run) whose echo it never holds.
std::vector<std::size_t> clicksSent(const std::vector<float> &stereo)
{
    auto sent = onsets(stereo, 0);
    std::erase_if(sent, [&](std::size_t frame) {
        return frame < kClickPeriodFrames || frame + kClickPeriodFrames > stereo.size() / 2;
    });
    return sent;
}

// Each click's delay from the left channel to the right one, in ms.
std::vector<double> clickDelays(const std::vector<float> &stereo)
{
    const auto period = kClickPeriodFrames;
    const auto right = onsets(stereo, 1);
    std::vector<double> delays;
    for (std::size_t sent : clicksSent(stereo)) {
        auto heard = std::ranges::lower_bound(right, sent);
        if (heard != right.end() && *heard - sent < period)
            delays.push_back(static_cast<double>(*heard - sent) * 1000.0 / kRecordRate);
    }
    std::ranges::sort(delays);
    return delays;
}

double percentile(const std::vector<double> &sorted, double fraction)
{
    if (sorted.empty())
        return NAN;
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

struct Measurement {
    std::vector<double> delays;
    double cpuPerSecond = 0;
    std::size_t clicksSent = 0;
    std::string recordFailure; // why nothing was recorded; empty when something was
};

// True when `path` has figures; otherwise says why it has none.
bool measuredOrSaid(const char *path, const Measurement &measured)
{
    if (!measured.delays.empty())
        return true;
    if (!measured.recordFailure.empty())
        std::printf("# %s measured nothing: the bench sink could not be recorded: %s\n", path,
                    measured.recordFailure.c_str());
    else if (measured.clicksSent == 0)
        std::printf("# %s measured nothing: no click reached the bench sink\n", path);
    else
        std::printf("# %s measured nothing: none of %zu clicks came through\n", path,
                    measured.clicksSent);
    return false;
}

// `threads`: the names of the threads whose CPU time counts.
Measurement measure(ServerProbe &probe, double seconds,
                    const std::vector<std::string> &threads = {PulseAudioLibrary::kAudioThreadName})
{
    const auto cpu = [&] {
        double seconds = 0;
        for (const auto &name : threads)
            seconds += threadCpuSeconds(name);
        return seconds;
    };
    const double cpuBefore = cpu();
    const auto start = std::chrono::steady_clock::now();
    const auto recording = probe.record(kSinkMonitor, seconds, kRecordRate);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    Measurement result;
    result.cpuPerSecond = (cpu() - cpuBefore) / elapsed.count();
    if (recording.empty())
        result.recordFailure = probe.recordFailure();
    result.delays = clickDelays(recording);
    result.clicksSent = clicksSent(recording).size();
    return result;
}

int deviceNumber(const std::string &name, bool capture, AudioLibrary &audio)
{
    AudioDeviceInfo info;
    for (int device = 0;
         capture ? audio.RecordGetDeviceInfo(device, info) : audio.GetDeviceInfo(device, info);
         ++device)
        if (info.driver == name)
            return device;
    return -1;
}

// The bench radio routed to the bench output through `audio`, measured;
// then again while the graph stalls, where the server says which process
// runs it.
struct Routed {
    Measurement measurement;
    std::uint64_t dropouts = 0;
    std::uint64_t underflows = 0;
    Measurement stalled;
    std::uint64_t stalledDropouts = 0;
    int stalls = 0;
};

pid_t graphProcess()
{
    const char *pid = std::getenv("KALDRA_GRAPH_PID");
    return pid != nullptr ? static_cast<pid_t>(std::atol(pid)) : 0;
}

// A path that overruns may have left the graph held still by its stalls.
void releaseGraph()
{
    if (const pid_t graph = graphProcess(); graph > 0)
        kill(graph, SIGCONT);
}

// How long each path may take, several times what it takes on a busy machine.
constexpr auto kRoutedPathLimit = std::chrono::seconds(180);
constexpr auto kServerPathLimit = std::chrono::seconds(60);

template <typename Library>
Routed route(Library &audio, ServerProbe &probe, const std::vector<std::string> &threads)
{
    if (!audio.Init(deviceNumber(kSink, false, audio), kRate, 0))
        throw std::runtime_error("cannot open the bench output");
    const AudioHandle mixer = audio.MixerStreamCreate(kRate, 2, 0);
    audio.RecordInit(deviceNumber(kSinkMonitor, true, audio));
    const AudioHandle radio = audio.RecordStart(kRate, 2, 0);
    // An operator's second radio streams beside the first, here mixed in at
    // nothing: the measured radio shares the way as it does in a contest.
    const AudioHandle secondRadio = audio.RecordStart(kRate, 2, 0);
    if (mixer == 0 || radio == 0 || secondRadio == 0 ||
        !audio.MixerStreamAddChannel(mixer, radio, AudioLibrary::kMatrixMixing) ||
        !audio.MixerChannelSetMatrix(radio, kLeftToRight) ||
        !audio.MixerStreamAddChannel(mixer, secondRadio, AudioLibrary::kMatrixMixing) ||
        !audio.MixerChannelSetMatrix(secondRadio, RoutingMatrix{0, 0, 0, 0}) ||
        !audio.ChannelPlay(mixer, false))
        throw std::runtime_error("cannot route the bench radios");
    std::this_thread::sleep_for(1500ms);
    Routed routed;
    const std::uint64_t underrunsBefore = audio.underrunFrames();
    const std::uint64_t underflowsBefore = audio.playbackUnderflows();
    routed.measurement = measure(probe, kRoutedSeconds, threads);
    routed.dropouts = audio.underrunFrames() - underrunsBefore;
    routed.underflows = audio.playbackUnderflows() - underflowsBefore;
    if (const pid_t graph = graphProcess(); graph > 0) {
        const std::uint64_t before = audio.underrunFrames();
        GraphStalls stalls(graph, kStall, kStallPeriod);
        routed.stalled = measure(probe, kStalledSeconds, threads);
        routed.stalledDropouts = audio.underrunFrames() - before;
        routed.stalls = stalls.count();
    }
    return routed;
}

// PipeWire's own loopback on the library's path, from the monitor's left
// channel to the sink's right one, at the native back-end's quantum: the
// graph's floor. Runs while it lives.
class PipeWireLoopback {
  public:
    explicit PipeWireLoopback(std::uint32_t quantumFrames)
    {
        const std::string latency = "node.latency=" + std::to_string(quantumFrames) + "/48000";
        std::vector<std::string> arguments = {"pw-loopback",
                                              "--channels=1",
                                              "-C",
                                              kSink,
                                              "-P",
                                              kSink,
                                              "--capture-props",
                                              "{ " + latency +
                                                  " stream.capture.sink=true audio.position=[FL] }",
                                              "--playback-props",
                                              "{ " + latency + " audio.position=[FR] }"};
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "pw-loopback", nullptr, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start pw-loopback");
    }
    ~PipeWireLoopback()
    {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    PipeWireLoopback(const PipeWireLoopback &) = delete;
    PipeWireLoopback &operator=(const PipeWireLoopback &) = delete;

  private:
    pid_t pid_ = 0;
};

// Loads the harness's modules and unloads them when done.
class Harness {
  public:
    explicit Harness(ServerProbe &probe) : probe_(probe)
    {
        load("module-null-sink",
             std::string("sink_name=") + kSink +
                 " channels=2 rate=48000 sink_properties=device.description=Bench");
        load("module-remap-source",
             std::string("source_name=") + kRadio + " master=" + kSink +
                 ".monitor channels=1 master_channel_map=front-left channel_map=mono remix=no");
        load("module-remap-sink", std::string("sink_name=") + kOutput + " master=" + kSink +
                                      " channels=1 master_channel_map=front-right "
                                      "channel_map=mono remix=no");
    }
    ~Harness()
    {
        for (auto module = modules_.rbegin(); module != modules_.rend(); ++module)
            probe_.unloadModule(*module);
    }
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    int load(const std::string &name, const std::string &arguments)
    {
        const int index = probe_.loadModule(name, arguments);
        if (index < 0)
            throw std::runtime_error("cannot load " + name + " " + arguments);
        modules_.push_back(index);
        return index;
    }

    void unload(int module)
    {
        probe_.unloadModule(module);
        std::erase(modules_, module);
    }

  private:
    ServerProbe &probe_;
    std::vector<int> modules_;
};

void print(const char *name, double value)
{
    std::printf("%s=%.2f\n", name, value);
}

// What the stalls cost: `prefix` names the back-end's figures.
void printStalled(const std::string &prefix, const Routed &routed)
{
    if (routed.stalls == 0)
        return;
    std::printf("%sstalled_dropouts=%llu (%d stalls of %.1f ms)\n", prefix.c_str(),
                static_cast<unsigned long long>(routed.stalledDropouts), routed.stalls,
                std::chrono::duration<double, std::milli>(kStall).count());
    std::printf("%sstalled_clicks_heard=%zu/%zu\n", prefix.c_str(), routed.stalled.delays.size(),
                routed.stalled.clicksSent);
    print((prefix + "stalled_latency_p99_ms").c_str(), percentile(routed.stalled.delays, 0.99));
}

// Chopped sound shows as dropouts or as clicks not heard; a server that only
// buffers more shows as latency.
void printPass(const char *name, const Routed &routed, double goalMs)
{
    const Measurement &measured = routed.measurement;
    const double latency = percentile(measured.delays, 0.5);
    const bool pass = latency <= goalMs && routed.dropouts == 0 && measured.clicksSent > 0 &&
                      measured.delays.size() == measured.clicksSent;
    std::printf("%s=%s (latency_ms %.2f, goal %.0f; dropouts %llu; clicks_heard %zu/%zu)\n", name,
                pass ? "yes" : "no", latency, goalMs,
                static_cast<unsigned long long>(routed.dropouts), measured.delays.size(),
                measured.clicksSent);
}

// The PipeWire back-end on the same harness, and PipeWire's own loopback at
// the same quantum, on a PipeWire server; true when measured or not a
// PipeWire server.
bool runNativeBench(ServerProbe &probe)
{
    PipeWireAudioLibrary::Options options;
    if (std::getenv("PIPEWIRE_RUNTIME_DIR") == nullptr ||
        !PipeWireAudioLibrary::serverAnswers(options)) {
        std::puts("# native figures skipped: no PipeWire server (SOUND_SERVER=pipewire)");
        return true;
    }
    Routed native;
    std::uint32_t quantum = 0;
    {
        PipeWireAudioLibrary audio(options);
        native =
            route(audio, probe,
                  {PipeWireAudioLibrary::kAudioThreadName, PipeWireAudioLibrary::kDataThreadName});
        quantum = audio.grantedQuantum();
        audio.RecordFree();
        audio.Free();
    }
    Measurement loopback;
    {
        PipeWireLoopback running(options.quantumFrames);
        std::this_thread::sleep_for(2s);
        loopback = measure(probe, kBaselineSeconds, {});
    }
    print("native_latency_ms", percentile(native.measurement.delays, 0.5));
    print("native_latency_p99_ms", percentile(native.measurement.delays, 0.99));
    std::printf("native_dropouts=%llu\n", static_cast<unsigned long long>(native.dropouts));
    std::printf("native_playback_underflows=%llu\n",
                static_cast<unsigned long long>(native.underflows));
    std::printf("native_clicks_heard=%zu/%zu\n", native.measurement.delays.size(),
                native.measurement.clicksSent);
    std::printf("native_quantum=%u/48000 (asked %u)\n", quantum, options.quantumFrames);
    print("native_cpu_percent", native.measurement.cpuPerSecond * 100.0);
    printPass("native_pass", native, kNativeLatencyGoalMs);
    printStalled("native_", native);
    print("pw_loopback_latency_ms", percentile(loopback.delays, 0.5));
    std::printf("pw_loopback_clicks_heard=%zu/%zu\n", loopback.delays.size(), loopback.clicksSent);
    // Each path says for itself whether it measured, so none is skipped.
    bool measured = measuredOrSaid("the native back-end", native.measurement);
    measured &= measuredOrSaid("pw-loopback", loopback);
    if (native.stalls > 0)
        measured &= measuredOrSaid("the native back-end under stalls", native.stalled);
    return measured;
}

} // namespace

int runServerBench(ServerPaths paths)
{
    const bool allPaths = paths == ServerPaths::kAll;
    if (std::getenv("PULSE_SERVER") == nullptr) {
        std::puts("# sound server figures skipped: PULSE_SERVER is not set");
        return 1;
    }
    try {
        ServerProbe probe;
        Harness harness(probe);
        if (!probe.startClicks(kSink, kClickPeriodMs))
            throw std::runtime_error("cannot play clicks");

        Routed pulse;
        std::vector<PulseAudioLibrary::Grant> grants;
        {
            const StepDeadline deadline("the pulse back-end", kRoutedPathLimit, releaseGraph);
            PulseAudioLibrary audio;
            pulse = route(audio, probe, {PulseAudioLibrary::kAudioThreadName});
            grants = audio.grants();
            audio.RecordFree();
            audio.Free();
        }
        const Measurement &routed = pulse.measurement;

        Measurement baseline, relay;
        std::uint64_t relayUnderflows = 0;
        if (allPaths) {
            {
                const StepDeadline deadline("module-loopback", kServerPathLimit);
                const int loopback = harness.load(
                    "module-loopback", std::string("source=") + kRadio + " sink=" + kOutput +
                                           " latency_msec=20 source_dont_move=true "
                                           "sink_dont_move=true");
                std::this_thread::sleep_for(2s);
                baseline = measure(probe, kBaselineSeconds);
                harness.unload(loopback);
            }
            const StepDeadline deadline("the plain relay", kServerPathLimit);
            PlainRelay plain(kRadio, kOutput, kRate, kRelayFragmentMs, kRelayBufferMs);
            std::this_thread::sleep_for(2s);
            const std::uint64_t before = plain.underflows();
            relay = measure(probe, kBaselineSeconds);
            relayUnderflows = plain.underflows() - before;
        }

        std::printf("server=%s\n", probe.serverName().c_str());
        print("latency_ms", percentile(routed.delays, 0.5));
        print("latency_p99_ms", percentile(routed.delays, 0.99));
        std::printf("dropouts=%llu\n", static_cast<unsigned long long>(pulse.dropouts));
        std::printf("playback_underflows=%llu\n",
                    static_cast<unsigned long long>(pulse.underflows));
        std::printf("clicks_heard=%zu/%zu\n", routed.delays.size(), routed.clicksSent);
        if (allPaths) {
            print("baseline_latency_ms", percentile(baseline.delays, 0.5));
            print("relay_latency_ms", percentile(relay.delays, 0.5));
            std::printf("relay_underflows=%llu\n",
                        static_cast<unsigned long long>(relayUnderflows));
        }
        for (const auto &grant : grants) {
            std::printf("granted_%s=fragment %.2f ms, buffer %.2f ms, request %.2f ms; "
                        "pulled at once %.2f ms\n",
                        grant.stream.c_str(), grant.fragmentMs, grant.bufferMs, grant.requestMs,
                        grant.pullMs);
        }
        print("cpu_percent", routed.cpuPerSecond * 100.0);
        printPass("pass", pulse, kLatencyGoalMs);
        printStalled("", pulse);
        bool measured = measuredOrSaid("the pulse back-end", routed);
        if (allPaths) {
            measured &= measuredOrSaid("module-loopback", baseline);
            measured &= measuredOrSaid("the plain relay", relay);
        }
        if (pulse.stalls > 0)
            measured &= measuredOrSaid("the pulse back-end under stalls", pulse.stalled);
        bool nativeMeasured = true;
        if (allPaths) {
            const StepDeadline deadline("the native back-end", kRoutedPathLimit, releaseGraph);
            nativeMeasured = runNativeBench(probe);
        }
        probe.stopClicks();
        return measured && nativeMeasured ? 0 : 1;
    } catch (const std::exception &error) {
        std::printf("# sound server figures failed: %s\n", error.what());
        return 1;
    }
}
