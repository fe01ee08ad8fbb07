// tarvik-imagecheck: opens one disc image through libcdio the way the ripping library will, in a
// process of its own. libcdio trusts the files it parses, and some malformed images make it
// crash, abort or divide by zero; here that only ends this process, and the program that started
// it refuses the image with the reason. It takes no Qt, so it starts in a few milliseconds.
//
// Usage: tarvik-imagecheck IMAGE
// Answers on standard output with one line, "ok" or "refused REASON". No answer at all (a crash)
// or none in time is a refusal too.
#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int MaxTracks = 99;
constexpr int SectorBytes = 2352;
constexpr int SectorsPerSecond = 75;

// libcdio's own complaints are not for the user; its last warning often says what is wrong.
std::string LastWarning;

int Answer(const std::string& reason);

void Log(cdio_log_level_t level, const char* message)
{
    if (message == nullptr)
        return;
    // libcdio goes on after a failed assertion only to crash a moment later; what it asserted
    // tells the user more.
    if (level == CDIO_LOG_ASSERT) {
        Answer(std::string("libcdio found it malformed (") + message + ")");
        std::_Exit(0);
    }
    if (level >= CDIO_LOG_WARN)
        LastWarning = message;
}

std::string Time(lsn_t sector)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(sector / SectorsPerSecond / 60),
                  int(sector / SectorsPerSecond % 60), int(sector % SectorsPerSecond));
    return text;
}

int Answer(const std::string& reason)
{
    if (reason.empty())
        std::fputs("ok\n", stdout);
    else
        std::printf("refused %s\n", reason.c_str());
    std::fflush(stdout);
    return 0;
}

std::string WithWarning(const std::string& reason)
{
    return LastWarning.empty() ? reason : reason + " (libcdio: " + LastWarning + ")";
}

bool ReadsAudio(CdIo_t* cdio, lsn_t sector)
{
    std::vector<unsigned char> buffer(SectorBytes);
    return cdio_read_audio_sectors(cdio, buffer.data(), sector, 1) == DRIVER_OP_SUCCESS;
}

std::string Check(CdIo_t* cdio)
{
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0)
        return WithWarning("it lists no tracks");
    if (count > MaxTracks)
        return "it lists " + std::to_string(count) + " tracks, more than a CD can hold";

    std::vector<lsn_t> starts;
    std::vector<bool> audio;
    for (int t = first; t < first + count; ++t) {
        starts.push_back(cdio_get_track_lsn(cdio, track_t(t)));
        audio.push_back(cdio_get_track_format(cdio, track_t(t)) == TRACK_FORMAT_AUDIO);
    }
    const lsn_t end = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    for (size_t i = 0; i < starts.size(); ++i) {
        const std::string track = "track " + std::to_string(first + int(i));
        if (starts[i] < 0)
            return track + " starts before the start of the disc";
        if (starts[i] >= end) {
            return "it is shorter than its sheet says: " + track + " starts at " + Time(starts[i]) +
                   ", but the data ends at " + Time(end < 0 ? 0 : end);
        }
        if (i + 1 < starts.size() && starts[i + 1] <= starts[i])
            return "its tracks are out of order: " + track + " starts after the track behind it";
    }
    // What the CD-Text lines say is read when the disc is loaded.
    if (cdtext_t* text = cdio_get_cdtext(cdio)) {
        for (int t = 0; t <= count; ++t) {
            const track_t track = t == 0 ? track_t(0) : track_t(first + t - 1);
            cdtext_get_const(text, CDTEXT_FIELD_TITLE, track);
            cdtext_get_const(text, CDTEXT_FIELD_PERFORMER, track);
        }
    }
    // Every audio track's first and last sectors must be in the data, as the sheet claims.
    for (size_t i = 0; i < starts.size(); ++i) {
        const lsn_t last = (i + 1 < starts.size() ? starts[i + 1] : end) - 1;
        if (audio[i] && (!ReadsAudio(cdio, starts[i]) || !ReadsAudio(cdio, last))) {
            return "track " + std::to_string(first + int(i)) +
                   " cannot be read: the image holds less than its sheet says";
        }
    }
    // The extraction takes the disc through paranoia's drive layer, which reads the table of
    // contents its own way. (Opening it fully would read sectors all over the disc to guess their
    // byte order: over a second, for what the reads above already show.)
    cdrom_drive_t* drive = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (drive == nullptr)
        return WithWarning("the audio extraction cannot open it");
    cdio_cddap_close_no_free_cdio(drive);
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: tarvik-imagecheck IMAGE\n", stderr);
        return 2;
    }
    cdio_log_set_handler(&Log);
    CdIo_t* cdio = cdio_open(argv[1], DRIVER_UNKNOWN);
    if (cdio == nullptr)
        return Answer(WithWarning("libcdio cannot read it as a CUE, TOC or NRG disc image"));
    const std::string reason = Check(cdio);
    cdio_destroy(cdio);
    return Answer(reason);
}
