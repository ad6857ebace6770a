#include "app/effect_sound_player.h"

#include <QSoundEffect>
#include <QUrl>

namespace lumen
{

EffectSoundPlayer::EffectSoundPlayer(QObject *parent) : QObject(parent) {}

void EffectSoundPlayer::playFile(const QString &path)
{
    if (path.isEmpty())
        return;
    QSoundEffect *&effect = m_effects[path];
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl::fromLocalFile(path));
    }
    // A file still loading plays as soon as it is ready; one that cannot be
    // read stays silent, as a missing sound should.
    effect->play();
}

} // namespace lumen
