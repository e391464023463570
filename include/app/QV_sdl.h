#ifndef QV_SDL_H
#define QV_SDL_H

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glu.h>

#endif // QV_SDL_H
