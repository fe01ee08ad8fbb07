#include "cd/CDRIP.h"

#include "mp3/LameCoder.h"

ECDRIPError::ECDRIPError(const QString& message)
    : std::runtime_error(message.toStdString()), FMessage(message)
{
}

EFCreateError::EFCreateError(const QString& fileName)
    : std::runtime_error(QStringLiteral("Cannot create file %1").arg(fileName).toStdString()),
      FMessage(QStringLiteral("Cannot create file %1").arg(fileName))
{
}

TCDRIP::TCDRIP(QObject* owner, cdrip::ICDRipLibrary* library)
    : QObject(owner), FLib(library ? library : &cdrip::DefaultCDRipLibrary())
{
}

TCDRIP::~TCDRIP() = default;

TLameCoder* TCDRIP::Coder() const
{
    return nullptr;
}

void TCDRIP::SetCoder(TLameCoder*) {}

void TCDRIP::SetCDRomNum(int32_t n)
{
    FCDRomNum = n;
}

void TCDRIP::SetOutputFormat(TOutputFormat format)
{
    FOutputFormat = format;
}

void TCDRIP::SetJitterCorrect(bool value)
{
    FJitterCorrect = value;
}

int32_t TCDRIP::GetDriveCount()
{
    return 0;
}

bool TCDRIP::IsAudioTrack(int) const
{
    return false;
}

QString TCDRIP::GetTrackDuration(int) const
{
    return QStringLiteral("00:00");
}

QString TCDRIP::GetDiscID() const
{
    return QStringLiteral("000000");
}

cdrip::CDSTATUS TCDRIP::PlayTrack(int32_t)
{
    return cdrip::CDEX_ERROR;
}

cdrip::CDSTATUS TCDRIP::StopPlay()
{
    return cdrip::CDEX_ERROR;
}

cdrip::CDSTATUS TCDRIP::PauseCD(bool)
{
    return cdrip::CDEX_ERROR;
}

cdrip::CDSTATUS TCDRIP::EjectCD(bool)
{
    return cdrip::CDEX_ERROR;
}

bool TCDRIP::IsPlaying()
{
    return false;
}

bool TCDRIP::ApplyParameters()
{
    return false;
}

void TCDRIP::ApplyOutputFormat() {}

void TCDRIP::RipTrack(int, const QString&) {}

void TCDRIP::RipRange(int32_t, int32_t, const QString&) {}

void TCDRIP::ReadParameters() {}

void TCDRIP::ReadToc() {}

void TCDRIP::ClearTracks() {}
