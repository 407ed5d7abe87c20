#pragma once

#include "ExportPatchSettings.h"

#include <QString>

// The settings record as a JSON document: the settings file that the plugin writes and the
// commandlet reads back. The form is described in docs/HotPatcher.md.

template <typename T>
bool TSerializeStructAsJsonString(const T& Struct, QString& OutJsonString);
template <typename T>
bool TDeserializeJsonStringAsStruct(const QString& JsonString, T& OutStruct, QString* OutError = nullptr);

// Writes every field of the record, indented, in the record's order.
template <>
bool TSerializeStructAsJsonString<FExportPatchSettings>(const FExportPatchSettings& Struct, QString& OutJsonString);
// Reads a settings file. Keys it does not know are ignored and missing keys keep their defaults;
// a value of the wrong type or an unknown enum name fails with a message naming the key.
template <>
bool TDeserializeJsonStringAsStruct<FExportPatchSettings>(const QString& JsonString, FExportPatchSettings& OutStruct,
                                                          QString* OutError);
