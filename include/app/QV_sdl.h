#ifndef _QV_SDL_H_
#define _QV_SDL_H_

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glu.h>

#endif // _QV_SDL_H_
