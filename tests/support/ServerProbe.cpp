#include "ServerProbe.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <stdexcept>

namespace {

constexpr std::size_t kFrameBytes = 2 * sizeof(float);

struct OwnerQuery {
    PulseMainLoop *loop;
    std::vector<ServerProbe::Owner> owners;
};

void onSourceOutput(pa_context *, const pa_source_output_info *info, int endOfList, void *userdata)
{
    auto *query = static_cast<OwnerQuery *>(userdata);
    if (endOfList == 0 && info != nullptr) {
        const char *name = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME);
        query->owners.push_back({name ? name : "", info->client});
    }
    query->loop->signal();
}

struct LinkQuery {
    PulseMainLoop *loop;
    bool linked = false;
};

void onOwnSourceOutput(pa_context *, const pa_source_output_info *info, int endOfList,
                       void *userdata)
{
    auto *query = static_cast<LinkQuery *>(userdata);
    if (endOfList == 0 && info != nullptr)
        query->linked = info->source != PA_INVALID_INDEX;
    query->loop->signal();
}

struct ServerQuery {
    PulseMainLoop *loop;
    std::string name;
};

void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *query = static_cast<ServerQuery *>(userdata);
    if (info != nullptr)
        query->name = std::string(info->server_name) + " " + info->server_version;
    query->loop->signal();
}

struct DefaultChange {
    PulseMainLoop *loop;
    bool done = false;
};

struct ModuleLoad {
    PulseMainLoop *loop;
    int index = -1;
};

} // namespace

struct ServerProbe::Recording {
    std::vector<float> samples;
    std::size_t wanted;
    std::uint32_t rate;
    std::chrono::steady_clock::time_point firstSampleAt =
        std::chrono::steady_clock::time_point::max();
};

ServerProbe::ServerProbe(const std::string &server)
    : connection_({{PA_PROP_APPLICATION_NAME, "KALDRA probe"}}, std::chrono::milliseconds(3000),
                  "kaldra-probe", server)
{
    std::lock_guard lock(connection_.loop());
    if (!connection_.connect()) {
        connection_.report("connecting to the sound server");
        throw std::runtime_error("cannot reach the sound server");
    }
}

ServerProbe::~ServerProbe()
{
    stopClicks();
    std::lock_guard lock(connection_.loop());
    recordStream_.reset();
}

void ServerProbe::onRecordRead(pa_stream *stream, std::size_t, void *userdata)
{
    auto *probe = static_cast<ServerProbe *>(userdata);
    Recording *recording = probe->recording_;
    const void *data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        if (recording == nullptr) {
            // Between calls, and before the link: not asked for.
            pa_stream_drop(stream);
            continue;
        }
        const std::size_t count = bytes / sizeof(float);
        const std::size_t room = recording->wanted - recording->samples.size();
        const std::size_t take = std::min(count, room);
        if (data == nullptr) {
            recording->samples.insert(recording->samples.end(), take, 0.0f);
        } else {
            const auto *samples = static_cast<const float *>(data);
            recording->samples.insert(recording->samples.end(), samples, samples + take);
        }
        pa_stream_drop(stream);
        // A monitor's data leaves the sink when it is rendered, which runs
        // ahead of the sink's playing by the sink's latency.
        const pa_timing_info *timing = pa_stream_get_timing_info(stream);
        const double sinkSeconds = timing != nullptr ? double(timing->sink_usec) / 1e6 : 0.0;
        const std::chrono::duration<double> playedBefore(
            double(recording->samples.size() / 2) / recording->rate - sinkSeconds);
        recording->firstSampleAt = std::min(
            recording->firstSampleAt,
            std::chrono::steady_clock::now() -
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(playedBefore));
    }
    probe->connection_.loop().signal();
}

bool ServerProbe::recordFrom(const std::string &source, std::uint32_t rate)
{
    if (recordStream_ && pa_stream_get_state(recordStream_.get()) == PA_STREAM_READY &&
        source == recordSource_ && rate == recordRate_)
        return true;
    recordStream_ = connection_.newStereoStream("probe", rate);
    pa_stream *stream = recordStream_.get();
    if (stream == nullptr) {
        recordFailure_ = "no stream could be made";
        return false;
    }
    pa_stream_set_read_callback(stream, onRecordRead, this);
    pa_buffer_attr attr{};
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(rate / 100 * kFrameBytes);
    if (pa_stream_connect_record(stream, source.c_str(), &attr,
                                 static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                PA_STREAM_AUTO_TIMING_UPDATE |
                                                                PA_STREAM_DONT_MOVE)) != 0 ||
        !connection_.waitUntilReady(stream)) {
        recordFailure_ = "the stream from " + source + " never became ready";
        recordStream_.reset();
        return false;
    }
    if (!waitUntilLinked(stream)) {
        recordFailure_ = "the server never linked the stream to " + source;
        recordStream_.reset();
        return false;
    }
    recordSource_ = source;
    recordRate_ = rate;
    return true;
}

std::vector<float> ServerProbe::record(const std::string &source, double seconds,
                                       std::uint32_t rate,
                                       std::chrono::steady_clock::time_point *firstSampleAt)
{
    Recording recording{{}, 2 * static_cast<std::size_t>(seconds * rate), rate};
    recording.samples.reserve(recording.wanted);
    std::lock_guard lock(connection_.loop());
    recordFailure_.clear();
    if (!connection_.ready()) {
        recordFailure_ = "the probe lost the server";
        return {};
    }
    if (!recordFrom(source, rate))
        return {};
    recording_ = &recording;
    pa_stream *stream = recordStream_.get();
    const bool complete =
        connection_.loop().waitUntil(
            [&] {
                return recording.samples.size() >= recording.wanted ||
                       pa_stream_get_state(stream) != PA_STREAM_READY;
            },
            std::chrono::milliseconds(static_cast<long>(seconds * 1000)) + connection_.timeout()) &&
        recording.samples.size() >= recording.wanted;
    recording_ = nullptr;
    if (!complete) {
        recordFailure_ =
            std::to_string(recording.samples.size() / 2) + " of " +
            std::to_string(recording.wanted / 2) + " frames came from " + source +
            (pa_stream_get_state(stream) == PA_STREAM_READY ? "" : ", whose stream failed");
        recordStream_.reset();
    }
    if (firstSampleAt != nullptr)
        *firstSampleAt = recording.firstSampleAt;
    return complete ? std::move(recording.samples) : std::vector<float>{};
}

bool ServerProbe::startClicks(const std::string &sink, double periodMs)
{
    stopClicks();
    std::lock_guard lock(connection_.loop());
    clickFrame_ = 0;
    clickPeriodFrames_ = static_cast<std::uint64_t>(periodMs * kClickRate / 1000.0);
    clickStream_ = connection_.newStereoStream("clicks", kClickRate);
    if (!clickStream_)
        return false;
    pa_stream_set_write_callback(clickStream_.get(), onClickWrite, this);
    // A short buffer: the server's default of seconds would leave a fresh null
    // sink on its two-second blocks.
    pa_buffer_attr attr{};
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(kClickRate / 50 * kFrameBytes);
    if (pa_stream_connect_playback(clickStream_.get(), sink.c_str(), &attr,
                                   PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
        !connection_.waitUntilReady(clickStream_.get())) {
        clickStream_.reset();
        return false;
    }
    return true;
}

void ServerProbe::stopClicks()
{
    std::lock_guard lock(connection_.loop());
    clickStream_.reset();
}

void ServerProbe::onClickWrite(pa_stream *stream, std::size_t bytes, void *userdata)
{
    auto *probe = static_cast<ServerProbe *>(userdata);
    void *data = nullptr;
    if (pa_stream_begin_write(stream, &data, &bytes) < 0)
        return;
    auto *samples = static_cast<float *>(data);
    const std::size_t frames = bytes / kFrameBytes;
    // A click is one millisecond of a 1 kHz sine: short, with a clear onset,
    // and well inside the band that survives a 7000 Hz path.
    constexpr std::uint64_t kClickFrames = kClickRate / 1000;
    for (std::size_t i = 0; i < frames; ++i, ++probe->clickFrame_) {
        const std::uint64_t phase = probe->clickFrame_ % probe->clickPeriodFrames_;
        samples[2 * i] =
            phase < kClickFrames
                ? 0.8f * static_cast<float>(std::sin(2.0 * M_PI * static_cast<double>(phase) /
                                                     static_cast<double>(kClickFrames)))
                : 0.0f;
        samples[2 * i + 1] = 0.0f;
    }
    pa_stream_write(stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
}

bool ServerProbe::waitUntilLinked(pa_stream *stream)
{
    const auto deadline = std::chrono::steady_clock::now() + connection_.timeout();
    while (std::chrono::steady_clock::now() < deadline) {
        LinkQuery query{&connection_.loop()};
        if (!connection_.await(PulseOperation(pa_context_get_source_output_info(
                connection_.context(), pa_stream_get_index(stream), onOwnSourceOutput, &query))))
            return false;
        if (query.linked)
            return true;
        connection_.loop().waitUntil([] { return false; }, std::chrono::milliseconds(5));
    }
    return false;
}

std::optional<std::vector<ServerProbe::Owner>> ServerProbe::captureStreamOwners()
{
    OwnerQuery query{&connection_.loop(), {}};
    std::lock_guard lock(connection_.loop());
    if (!connection_.ready() ||
        !connection_.await(PulseOperation(
            pa_context_get_source_output_info_list(connection_.context(), onSourceOutput, &query))))
        return std::nullopt;
    return query.owners;
}

std::string ServerProbe::serverName()
{
    ServerQuery query{&connection_.loop(), {}};
    std::lock_guard lock(connection_.loop());
    if (connection_.ready())
        connection_.await(PulseOperation(
            pa_context_get_server_info(connection_.context(), onServerInfo, &query)));
    return query.name;
}

bool ServerProbe::setDefaultSink(const std::string &sink)
{
    DefaultChange change{&connection_.loop()};
    std::lock_guard lock(connection_.loop());
    auto onChanged = [](pa_context *, int success, void *userdata) {
        auto *change = static_cast<DefaultChange *>(userdata);
        change->done = success != 0;
        change->loop->signal();
    };
    return connection_.ready() &&
           connection_.await(PulseOperation(pa_context_set_default_sink(
               connection_.context(), sink.c_str(), onChanged, &change))) &&
           change.done;
}

int ServerProbe::loadModule(const std::string &name, const std::string &arguments)
{
    ModuleLoad load{&connection_.loop()};
    std::lock_guard lock(connection_.loop());
    auto onLoaded = [](pa_context *, std::uint32_t index, void *userdata) {
        auto *load = static_cast<ModuleLoad *>(userdata);
        load->index = index == PA_INVALID_INDEX ? -1 : static_cast<int>(index);
        load->loop->signal();
    };
    if (!connection_.ready() ||
        !connection_.await(PulseOperation(pa_context_load_module(
            connection_.context(), name.c_str(), arguments.c_str(), onLoaded, &load))))
        return -1;
    return load.index;
}

void ServerProbe::unloadModule(int index)
{
    std::lock_guard lock(connection_.loop());
    if (index >= 0 && connection_.ready()) {
        connection_.await(PulseOperation(pa_context_unload_module(
            connection_.context(), static_cast<std::uint32_t>(index), nullptr, nullptr)));
    }
}
