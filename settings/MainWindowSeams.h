// TODO: stand-ins for two pieces of the main window that are not on main yet: the skin region
// (widgets/SkinRegion.h) and the launcher's standard error box (app/). When they land, include those
// headers in Frm2.cpp and delete this file and MainWindowSeams.cpp.
#pragma once

#include <windows.h>

#include <exception>

// The region of every pixel of the bitmap whose colour differs from its pixel (0, 0); the caller owns it.
HRGN CreateSkinRegion(HBITMAP bitmap);

// The launcher's standard error box: the error's message in a box titled "Vandrel_Updater".
void ShowException(const std::exception& error);
