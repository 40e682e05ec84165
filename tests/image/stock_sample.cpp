// A small program built the toolchain's stock way, which the image check must find fault with.
#include <windows.h>

#include <stdio.h>

extern "C" __declspec(dllexport) int FormatNumber(char *text, int size, double value) {
  return snprintf(text, size, "%g", value);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char text[32];
  return FormatNumber(text, sizeof text, 1.5);
}
