#include "gnr_picture/SKzLut.h"

// Created empty at load; InitPredefLuts fills it.
std::vector<SKzLut::SKzPredefLut*> SKzLut::vecPredefLuts;
