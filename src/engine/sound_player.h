#pragma once

#include <QString>

namespace lumen
{

// Plays one sound file. The engine decides which file (by its notice
// number); this interface only makes the noise, so tests can record it.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void playFile(const QString &path) = 0;
};

} // namespace lumen
