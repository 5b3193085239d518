// Feeds arbitrary text to the experiment model's variant readers through the
// XML form that version-2 files keep: an experiment tree, an event log and a
// stream catalogue. The tree answers every query of the model; each record
// is written, read again and written once more, and the two writings of a
// record read back from its own text must agree.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/SKzStreamData.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"
#include "experiment_queries.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string xml(const CKzVariant& v)
{
    CKzStringA text;
    CKzSerializerXMLString::VariantToDocument_UTF8(text, v);
    return std::string(text.GetString(), (size_t)text.GetLength());
}

bool parse(CKzVariant& v, const std::string& text)
{
    v.EnableTypeChange(true);
    return CKzSerializerXMLString::VariantFromXML_UTF8(v, text.data(), (unsigned)text.size()) == KZ_OK;
}

// The text a tree read from text writes.
std::string treeText(const std::string& text, bool& loaded)
{
    CKzVariant v;
    loaded = false;
    if (!parse(v, text)) return std::string();
    SKzExperiment tree;
    loaded = SKzExperiment::LoadFromVariant(tree, v) == KZ_OK;
    CKzVariant out;
    if (SKzExperiment::SaveToVariant(out, tree) != KZ_OK) return std::string();
    return xml(out);
}

void experiment(const CKzVariant& v, uint32_t seed)
{
    SKzExperiment* tree = nullptr;
    if (SKzExperiment::Alloc(&tree) != KZ_OK) return;
    SKzExperiment::LoadFromVariant(*tree, v);
    expfuzz::runQueries(tree, seed);
    CKzVariant out;
    if (!expfuzz::heavy(tree) && SKzExperiment::SaveToVariant(out, *tree) == KZ_OK) {
        // Once read back, a tree's text is stable.
        bool loaded = false;
        const std::string once = treeText(xml(out), loaded);
        expfuzz::require(loaded);
        bool again = false;
        expfuzz::require(treeText(once, again) == once && again);
    }
    SKzExperiment::FreeRecursive(tree);
}

void eventLog(const CKzVariant& v)
{
    SKzExperimentRecord log;
    SKzExperimentRecord::LoadFromVariant(log, v);
    CKzVariant out;
    SKzExperimentRecord::SaveToVariant(out, log);
    CKzVariant parsed;
    expfuzz::require(parse(parsed, xml(out)));
    SKzExperimentRecord back;
    SKzExperimentRecord::LoadFromVariant(back, parsed);
    expfuzz::require(back.uiCount == log.uiCount);
}

void streams(const CKzVariant& v)
{
    SKzStreamData d;
    d.LoadFromVariant(v);
    d.UpdateDataItemCount(eRecordedStreamAnalog, 0, 1000, 7);
    CKzVariant out;
    d.SaveToVariant(out);
    CKzVariant parsed;
    expfuzz::require(parse(parsed, xml(out)));
    SKzStreamData back;
    back.LoadFromVariant(parsed);
    expfuzz::require(back.Vector_StreamAnalog.size() == d.Vector_StreamAnalog.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 18)) return 0;
    CKzVariant v;
    v.EnableTypeChange(true);
    if (CKzSerializerXMLString::VariantFromXML_UTF8(v, reinterpret_cast<const char*>(data), (unsigned)size) != KZ_OK)
        return 0;
    uint32_t seed = 2166136261u;
    for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
    experiment(v, seed);
    eventLog(v);
    streams(v);
    return 0;
}
