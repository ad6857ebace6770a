#pragma once

#include "engine/sound_player.h"

#include <QStringList>

namespace lumen::test
{

class FakeSoundPlayer final : public SoundPlayer
{
public:
    QStringList played;
    void playFile(const QString &path) override { played << path; }
};

} // namespace lumen::test
