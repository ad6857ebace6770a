#!/usr/bin/env python3
"""Writes the three notice sounds of the download window into sounds/.

101.wav  a web page came back instead of a document: two short falling notes
102.wav  a run of downloads ended: a rising three-note chime
103.wav  a download failed: two low, short buzzes

Each is 16-bit mono PCM at 22 050 Hz, well under a second, with soft edges
so that nothing clicks. Run it again after changing a sound; the files are
kept in the repository so that no build needs Python.
"""

import math
import os
import struct
import wave

RATE = 22050


def tone(freq, seconds, volume=0.45, overtone=0.0, shape="sine"):
    n = int(RATE * seconds)
    fade = max(1, int(RATE * 0.012))
    out = []
    for i in range(n):
        t = i / RATE
        if shape == "square":
            s = 1.0 if math.sin(2 * math.pi * freq * t) >= 0 else -1.0
            s *= 0.5
        else:
            s = math.sin(2 * math.pi * freq * t)
            s += overtone * math.sin(4 * math.pi * freq * t)
        # Soft attack and a decaying tail like a struck bell.
        env = min(1.0, i / fade, (n - i) / fade) * math.exp(-3.0 * t / seconds)
        out.append(s * env * volume)
    return out


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def write(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(max(-1, min(1, s)) * 32000))
                               for s in samples))


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sounds")
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "101.wav"),
          tone(988, 0.12, overtone=0.2) + silence(0.03) + tone(740, 0.16, overtone=0.2))
    write(os.path.join(folder, "102.wav"),
          tone(523, 0.12, overtone=0.3) + tone(659, 0.12, overtone=0.3) +
          tone(784, 0.30, overtone=0.3))
    write(os.path.join(folder, "103.wav"),
          tone(196, 0.13, volume=0.3, shape="square") + silence(0.06) +
          tone(185, 0.18, volume=0.3, shape="square"))


if __name__ == "__main__":
    main()
