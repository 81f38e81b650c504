#pragma once
// The tool's own pictures, drawn in code so that they scale cleanly and need no files.
#include <QIcon>
#include <QImage>
#include <QPixmap>

QIcon AppIcon();                // 16, 32, 48, 64 and 128 pixels
QImage AppIconImage(int size);  // the icon at size x size pixels
QPixmap ConnectPicture();       // 64 x 64
QPixmap OpenFilePicture();      // 64 x 64
QPixmap SaveFilePicture();      // 64 x 64
QPixmap LogoPicture();          // 162 x 88, transparent background
