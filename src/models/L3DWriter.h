// Writing skeleton, mesh and motion files in the layout the loaders of L3D.h
// read (described in L3D.cpp).  The header is made from the object's tables
// (magic, version, header size and counts; a motion's Duration is its own);
// the records are written as they are, unchecked, so that malformed files
// can be made on purpose.  The data generator and the tests use them.
#pragma once

#include <ostream>
#include <string>

#include "models/L3D.h"

void WriteS3D(const TSkeleton& skeleton, std::ostream& stream);
void WriteL3D(const TMesh& mesh, std::ostream& stream);
void WriteM3D(const TMotion& motion, std::ostream& stream);

// The same into a file: "Cannot create file <name>" when it cannot be written.
void SaveS3D(const TSkeleton& skeleton, const std::string& fileName);
void SaveL3D(const TMesh& mesh, const std::string& fileName);
void SaveM3D(const TMotion& motion, const std::string& fileName);
