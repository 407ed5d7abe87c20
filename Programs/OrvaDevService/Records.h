#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace OrvaDev
{

struct FPasswordHash
{
	std::string Salt;
	std::string Hash;
	int Iterations = 0;
};

struct FCreatorProfile
{
	int64_t Id = 0;
	std::string Email; // lowercase; empty for a phone-only account
	std::string Phone; // empty for an email-only account
	std::string DisplayName;
};

struct FCreatorCredentials
{
	FCreatorProfile Profile;
	FPasswordHash Password;
};

// A creator account as given on the command line or in a seed file, before hashing.
struct FCreatorSeed
{
	std::string Email;
	std::string Phone;
	std::string Password;
	std::string DisplayName;
};

struct FStoredToken
{
	int64_t CreatorId = 0;
	int64_t ExpiresAt = 0; // seconds since the Unix epoch
};

struct FImageRecord
{
	std::string Id;
	std::string WorldId;
	std::string Name;       // the client's file name, for display only
	std::string StoredName; // the file under the data folder, chosen by the service
	std::string ContentType;
	int64_t Size = 0;
};

struct FWorldRecord
{
	std::string Id;
	std::string Identifier;
	std::string Name;
	std::string Description;
	int64_t Capacity = 0;
	bool bPrivate = true;
	int64_t Activitys = 0;
	int64_t Likes = 0;
	std::string LastUpdate;
	std::optional<FImageRecord> TitleImage;
};

// Only the members that are set change.
struct FWorldPatch
{
	std::optional<bool> bPrivate;
	std::optional<std::string> Name;
	std::optional<std::string> Description;
	bool bSetTitleImage = false;
	std::optional<std::string> TitleImageId; // empty with bSetTitleImage clears the title image
};

struct FNewComponent
{
	std::string Name;
	std::string Platform;
	std::string Map;
	std::string Filename;
	bool bSandbox = false;
};

struct FComponentRecord
{
	std::string Id;
	std::string WorldId;
	std::string WorldIdentifier;
	std::string Name;
	std::string Platform;
	std::string Map;
	std::string Filename;
	bool bSandbox = false;
	bool bComplete = false;
	std::string Checksum;  // empty until the upload is reported complete
	std::string ObjectKey; // empty until credentials were issued
	int64_t Size = -1;     // announced with the credentials request; -1 before
	std::string CreatedAt;
	std::string UpdatedAt;
};

} // namespace OrvaDev
