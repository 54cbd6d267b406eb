// The schema files that each owner of an XML handler adds to its schema
// collection, in the order they are added. Each list ends with a null name.
// Schemas that a document names but its owner's list lacks are added on
// demand when the document is loaded.
#pragma once

// The DTM object.
extern const wchar_t* const kDtmSchemaFiles[];
// The channel object.
extern const wchar_t* const kChannelSchemaFiles[];
// Each of the DTM's controls.
extern const wchar_t* const kControlSchemaFiles[];
