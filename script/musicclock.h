#pragma once
// The music's clock as the scene sees it. getMusicTime() and its siblings read it; the keys and
// setMusicTime() pause it and make it jump. While the program plays, the soundtrack provides a
// clock that runs with what is being heard; an offline capture provides one that stands at each
// video frame's time.

class MusicClock {
public:
    virtual ~MusicClock() = default;
    // Seconds into the music of what is heard now: smooth, and never going back but by a Seek.
    virtual double Time() = 0;
    // The music's length in seconds; 0 without music.
    virtual double Length() const = 0;
    virtual bool Paused() const = 0;
    virtual void SetPaused(bool paused) = 0;
    // Jumps to a time that IsValidMusicTime accepts.
    virtual void Seek(double seconds) = 0;
    // A loop region, 0 <= from < to <= Length(): on reaching `to` the music jumps back to
    // `from`, and while it is set the music does not end. A capture's clock ignores it.
    virtual void SetLoop(double /*from*/, double /*to*/) {}
    virtual void ClearLoop() {}
    // True, with the region, while a loop is set.
    virtual bool Loop(double& /*from*/, double& /*to*/) const { return false; }
};

// A jump forward from the keys or the sync editor stops this far before the music's end.
constexpr double kMusicEndMarginSeconds = 1;

// The clock the script functions and the keys use; null while there is none, which reads as
// time 0 and length 0.
extern MusicClock* g_musicClock;

// 0 up to the music's end (excluded), or any time from 0 on without music; never NaN.
bool IsValidMusicTime(double seconds);
// Jumps when the time is valid and notes when, for the view's time display. False, and nothing
// changes, otherwise.
bool SeekMusic(double seconds);
// Seconds of wall time since the last jump; a very large number before the first.
double SecondsSinceMusicJump();
