#pragma once

#include "engine/sound_player.h"

#include <QHash>
#include <QObject>

class QSoundEffect;

namespace lumen
{

// Plays the notice sounds through the desktop's audio output. Each file is
// loaded once and kept, so a sound asked for on every finished page starts at
// once instead of being decoded again each time.
class EffectSoundPlayer final : public QObject, public SoundPlayer
{
    Q_OBJECT
public:
    explicit EffectSoundPlayer(QObject *parent = nullptr);

    void playFile(const QString &path) override;

private:
    QHash<QString, QSoundEffect *> m_effects;
};

} // namespace lumen
