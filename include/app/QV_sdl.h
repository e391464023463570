#ifndef QV_SDL_H
#define QV_SDL_H

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>

#endif // QV_SDL_H
