#ifndef QV_APP_H
#define QV_APP_H

#include <sstream>
#include <string>

#include "QV_actor.h"
#include "QV_camera.h"
#include "QV_sdl.h"

// The demo application: one window, one orbit camera, one character.
// Every member starts at the value Setup gives it (the ticks at 0), so that
// an application that never opens a window is in a known state too; Setup
// sets them again.
class cQVApp
{
public:
    cCamera mCamera;
    cActor mActor;
    unsigned int mWinWidth = 0;        // window width, pixels, as passed to Setup
    unsigned int mWinHeight = 0;       // window height, pixels, as passed to Setup
    unsigned int mTime = 0;            // not used
    unsigned int mFPS = 0;             // frames since the caption was last set
    unsigned int mSecondStartTime = 0; // tick, ms, at which the caption's current second began
    unsigned int mLastTime = 0;        // tick, ms, at the end of the previous Update (Setup's at first)
    unsigned int mCurrentTime = 0;     // tick, ms, at the start of the current Update
    unsigned int mDrawMode = 1;        // how the skeleton is drawn: 1 or 2 (key T)
    bool mActive = true;               // the main loop runs while true
    bool mTurnLeft = false;            // A held: turn left while walking
    bool mTurnRight = false;           // D held: turn right while walking
    bool mWalk = false;                // W held: walk rather than stand
    bool mPaused = false;              // P: the character is frozen
    bool mLeftMouseButton = false;     // held: mouse motion turns the camera
    bool mRightMouseButton = false;    // held; nothing reads it

    cQVApp() = default;

    void Setup(unsigned int w, unsigned int h);
    void SetupCamera(float xx, float yy, float zz, float dist, int heading, int elevation);
    void LoadActor(const char* fname);
    void Go();
    void HandleEvents();
    void Update();
    void Draw();

    // Shuts SDL down, prints "EXIT ON ERROR: " and err as one line on
    // standard output and ends the process with status 1.
    [[noreturn]] static void ExitError(const char* err);

    // The millisecond clock the frame timing reads; SDL_GetTicks unless a
    // test installs another one. Passing null restores SDL_GetTicks.
    typedef Uint32 (*TickSource)();
    static void SetTickSource(TickSource source);

private:
    // The caption's number is written into and read back from this stream
    // as one word, once a second; it and the caption keep their storage
    // from one second to the next, so that no frame allocates.
    std::stringstream mCaptionStream{std::ios::in | std::ios::out};
    std::string mCaption; // the window's caption, "FPS: " and the count
    unsigned int mDt = 0; // the current frame's length, ms
};

// Loads the demo's actor file: the core reader, with a bad file ending the
// process through cQVApp::ExitError with one line "EXIT ON ERROR: XML ERROR: "
// and the detail. Returns only on success.
void LoadActorFromXML(const char* fname, cActor& actor);

// Opens the demo's window: w x h, double-buffered OpenGL with at least 5 bits
// a colour and a 16-bit depth buffer, at the desktop's colour depth (on a
// desktop of more than 8 bits a colour, an 8-bit visual with alpha), and sets
// the view state (QV_draw.h). False, with SDL_GetError() saying why, when SDL
// cannot. SDL's video must be initialised.
bool OpenGLWindow(unsigned int w, unsigned int h);

// Whether the desktop has more than 8 bits for a colour (a 30-bit screen's
// 10 bits each), where OpenGLWindow must steer SDL 1.2 away from the visuals
// it crashes on.
bool WideColourDesktop(const SDL_VideoInfo* info);

#endif // QV_APP_H
