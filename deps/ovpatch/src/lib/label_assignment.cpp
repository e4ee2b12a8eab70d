#include "label_assignment.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "enginelog.h"

namespace ovpatch {

void ClearLabelIndexes(LabelMap *labels)
{
    for (auto &entry : *labels)
        entry.second.index = -1;
}

void ClearLabelIndexes(DisassembledProgram *program)
{
    ClearLabelIndexes(&program->abs32_labels());
    ClearLabelIndexes(&program->rel32_labels());
}

void FillLabelIndexes(LabelMap *labels)
{
    const size_t n = labels->size();
    std::vector<bool> free(n, true);
    size_t preassigned = 0;
    for (auto &entry : *labels) {
        Label &label = entry.second;
        if (label.index < 0)
            continue;
        const size_t index = static_cast<size_t>(label.index);
        if (free.size() <= index)
            free.resize(index + 1, true);
        if (!free[index]) {
            // Two labels claiming one index would encode as one address; the
            // later one is numbered afresh instead.
            label.index = -1;
            continue;
        }
        free[index] = false;
        ++preassigned;
    }
    LogDebug(std::to_string(preassigned) + " of " + std::to_string(n) + " labels pre-assigned");

    auto take = [&free](Label &label, int64_t candidate) {
        if (candidate < 0 || static_cast<uint64_t>(candidate) >= free.size() || !free[candidate])
            return false;
        free[candidate] = false;
        label.index = static_cast<int32_t>(candidate);
        return true;
    };

    size_t forward = 0;
    const Label *previous = nullptr;
    for (auto &entry : *labels) {
        Label &label = entry.second;
        if (label.index < 0) {
            const int64_t candidate = previous && previous->index >= 0 ? int64_t(previous->index) + 1 : 0;
            if (take(label, candidate))
                ++forward;
        }
        previous = &label;
    }

    size_t backward = 0;
    const Label *next = nullptr;
    for (auto it = labels->rbegin(); it != labels->rend(); ++it) {
        Label &label = it->second;
        if (label.index < 0) {
            const int64_t following = next ? int64_t(next->index) : int64_t(free.size());
            if (following >= 1 && take(label, following - 1))
                ++backward;
        }
        next = &label;
    }

    size_t infill = 0;
    size_t cursor = 0;
    for (auto &entry : *labels) {
        Label &label = entry.second;
        if (label.index >= 0)
            continue;
        while (cursor < free.size() && !free[cursor])
            ++cursor;
        // Cannot happen while every taken index belongs to one label; kept
        // so that a broken invariant costs a larger table, not a collision.
        if (cursor == free.size())
            free.push_back(true);
        free[cursor] = false;
        label.index = static_cast<int32_t>(cursor);
        ++cursor;
        ++infill;
    }
    LogDebug("  fill forward " + std::to_string(forward) + "  backward " + std::to_string(backward) + "  infill "
             + std::to_string(infill));
}

void FillLabelIndexes(DisassembledProgram *program)
{
    FillLabelIndexes(&program->abs32_labels());
    FillLabelIndexes(&program->rel32_labels());
}

Label *Abs32LabelOf(const Instruction *instruction)
{
    if (instruction->kind() != INSN_ABS32)
        return nullptr;
    return static_cast<const LabelInstruction *>(instruction)->label();
}

Label *Rel32LabelOf(const Instruction *instruction)
{
    if (instruction->kind() != INSN_REL32 && instruction->kind() != INSN_REL32_ARM)
        return nullptr;
    return static_cast<const LabelInstruction *>(instruction)->label();
}

namespace {

// The matching works on a flat token view of a program: every plain byte is
// its value, every address field a token of its kind (without its target),
// so that code which only moved looks the same in both versions.
enum : uint32_t {
    TOKEN_ORIGIN = 0x100,
    TOKEN_RELOCS = 0x200,
    TOKEN_REL32 = 0x1000,
    TOKEN_ABS32 = 0x2000,
    TOKEN_ARM = 0x10000,
};

struct Reference
{
    Label *label;
    size_t token;
};

struct TokenView
{
    std::vector<uint32_t> tokens;
    std::vector<Reference> abs32;
    std::vector<Reference> rel32;
    // Where each label's own bytes begin in the token sequence.
    std::vector<Reference> abs32Targets;
    std::vector<Reference> rel32Targets;
};

// Bytes each token stands for; a relocation table's size is unknown and
// does not matter, since no label points into it.
uint32_t TokenSize(const Instruction *instruction)
{
    switch (instruction->kind()) {
    case INSN_BYTE:
        return 1;
    case INSN_REL32:
    case INSN_ABS32:
        return 4;
    case INSN_REL32_ARM:
        return static_cast<const Rel32ArmInstruction *>(instruction)->opSize();
    default:
        return 0;
    }
}

void FindTargets(const LabelMap &labels, const std::unordered_map<uint32_t, size_t> &firstToken,
                 std::vector<Reference> *targets)
{
    for (const auto &entry : labels) {
        const auto found = firstToken.find(entry.first);
        if (found != firstToken.end())
            targets->push_back({const_cast<Label *>(&entry.second), found->second});
    }
}

void BuildTokenView(const DisassembledProgram &program, TokenView *view)
{
    // The label addresses, to find the token at which each label's bytes
    // start while walking.
    std::unordered_map<uint32_t, size_t> firstToken;
    firstToken.reserve(program.abs32_labels().size() + program.rel32_labels().size());
    for (const auto &entry : program.abs32_labels())
        firstToken.emplace(entry.first, SIZE_MAX);
    for (const auto &entry : program.rel32_labels())
        firstToken.emplace(entry.first, SIZE_MAX);
    auto mark = [&firstToken](uint32_t rva, size_t token) {
        const auto found = firstToken.find(rva);
        if (found != firstToken.end() && found->second == SIZE_MAX)
            found->second = token;
    };

    uint32_t rva = 0;
    const auto &instructions = program.instructions();
    for (size_t i = 0; i < instructions.size(); ++i) {
        const Instruction *instruction = instructions[i];
        const size_t token = view->tokens.size();
        switch (instruction->kind()) {
        case INSN_ORIGIN:
            view->tokens.push_back(TOKEN_ORIGIN);
            rva = static_cast<const OriginInstruction *>(instruction)->rva();
            continue;
        case INSN_MAKE_PE_RELOCS:
        case INSN_MAKE_ELF_RELOCS:
        case INSN_MAKE_ELF_ARM_RELOCS:
            view->tokens.push_back(TOKEN_RELOCS | instruction->kind());
            continue;
        case INSN_BYTE:
            view->tokens.push_back(static_cast<const ByteInstruction *>(instruction)->value());
            break;
        case INSN_BYTES: {
            const auto *bytes = static_cast<const BytesInstruction *>(instruction);
            view->tokens.insert(view->tokens.end(), bytes->bytes(), bytes->bytes() + bytes->count());
            for (uint32_t k = 0; k < bytes->count(); ++k)
                mark(rva + k, token + k);
            rva += bytes->count();
            continue;
        }
        case INSN_ABS32:
            view->abs32.push_back({Abs32LabelOf(instruction), token});
            view->tokens.push_back(TOKEN_ABS32);
            break;
        case INSN_REL32:
            view->rel32.push_back({Rel32LabelOf(instruction), token});
            view->tokens.push_back(TOKEN_REL32);
            break;
        case INSN_REL32_ARM:
            view->rel32.push_back({Rel32LabelOf(instruction), token});
            view->tokens.push_back(TOKEN_ARM | static_cast<const Rel32ArmInstruction *>(instruction)->compressedOp());
            break;
        }
        mark(rva, token);
        rva += TokenSize(instruction);
    }
    FindTargets(program.abs32_labels(), firstToken, &view->abs32Targets);
    FindTargets(program.rel32_labels(), firstToken, &view->rel32Targets);
}

uint64_t Mix(uint64_t hash, uint64_t value)
{
    hash ^= value + 0x9E3779B97F4A7C15ull + (hash << 6) + (hash >> 2);
    return hash * 0xFF51AFD7ED558CCDull;
}

// A fingerprint of the tokens on both sides of a reference.
uint64_t ContextKey(const std::vector<uint32_t> &tokens, size_t at, size_t width)
{
    uint64_t hash = width;
    const size_t from = at >= width ? at - width : 0;
    const size_t to = std::min(tokens.size(), at + 1 + width);
    hash = Mix(hash, at - from);
    for (size_t i = from; i < to; ++i)
        hash = Mix(hash, i == at ? 0xFFFFFFFFu : tokens[i]);
    return hash;
}

// A fingerprint of the tokens a label points at.
uint64_t ContentKey(const std::vector<uint32_t> &tokens, size_t at, size_t width)
{
    uint64_t hash = 0xC0FFEEull + width;
    const size_t to = std::min(tokens.size(), at + width);
    for (size_t i = at; i < to; ++i)
        hash = Mix(hash, tokens[i]);
    return hash;
}

// Fingerprint to the one label it identifies, or null when the fingerprint
// belongs to different labels.
using KeyMap = std::unordered_map<uint64_t, const Label *>;

struct Keyed
{
    uint64_t key;
    const Label *label;
};

void AddKeys(const std::vector<Keyed> &keys, KeyMap *map)
{
    for (const Keyed &k : keys) {
        const auto result = map->emplace(k.key, k.label);
        if (!result.second && result.first->second != k.label)
            result.first->second = nullptr;
    }
}

// Context widths, widest first: wide contexts pair reliably, narrow ones
// then reach references in code that changed around them.
constexpr size_t kWideContext = 24;
constexpr size_t kNarrowContext = 8;
constexpr size_t kContentWidth = 32;

std::vector<Keyed> Fingerprints(const TokenView &view, const std::vector<Reference> &references,
                                const std::vector<Reference> &targets, bool wide)
{
    std::vector<Keyed> keys;
    keys.reserve(references.size() + targets.size());
    for (const Reference &reference : references)
        keys.push_back({ContextKey(view.tokens, reference.token, wide ? kWideContext : kNarrowContext),
                        reference.label});
    if (wide) {
        for (const Reference &target : targets)
            keys.push_back({ContentKey(view.tokens, target.token, kContentWidth), target.label});
    }
    return keys;
}

class MapMatcher
{
public:
    MapMatcher(const LabelMap &oldLabels, LabelMap *newLabels)
        : m_Old(oldLabels)
        , m_New(newLabels)
    {
    }

    // Pairs labels whose fingerprints (the code around their references,
    // their own bytes) are unique and equal in both programs; the pair seen
    // from the most places wins.
    void MatchByFingerprints(const std::vector<Keyed> &oldKeys, const std::vector<Keyed> &newKeys)
    {
        KeyMap oldMap;
        oldMap.reserve(oldKeys.size());
        AddKeys(oldKeys, &oldMap);
        KeyMap newMap;
        newMap.reserve(newKeys.size());
        AddKeys(newKeys, &newMap);

        std::unordered_map<uint64_t, uint32_t> votes;
        for (const Keyed &k : newKeys) {
            const auto mine = newMap.find(k.key);
            if (!mine->second || mine->second->index >= 0)
                continue;
            const auto old = oldMap.find(k.key);
            if (old == oldMap.end() || !old->second || m_UsedOld.count(old->second->rva))
                continue;
            ++votes[(uint64_t(k.label->rva) << 32) | old->second->rva];
        }
        struct Vote
        {
            uint32_t count, newRva, oldRva;
        };
        std::vector<Vote> ranked;
        ranked.reserve(votes.size());
        for (const auto &entry : votes)
            ranked.push_back({entry.second, uint32_t(entry.first >> 32), uint32_t(entry.first)});
        // Ties are broken by address so that the result does not depend on
        // the hash table's order.
        std::sort(ranked.begin(), ranked.end(), [](const Vote &a, const Vote &b) {
            if (a.count != b.count)
                return a.count > b.count;
            if (a.newRva != b.newRva)
                return a.newRva < b.newRva;
            return a.oldRva < b.oldRva;
        });
        for (const Vote &vote : ranked)
            Pair(&m_New->at(vote.newRva), m_Old.at(vote.oldRva));
    }

    // A label next to a paired one, at the same distance as an unpaired old
    // label next to its partner, is most likely that label moved along.
    void MatchByNeighbours()
    {
        for (int round = 0; round < 2; ++round) {
            const Label *anchorNew = nullptr;
            const Label *anchorOld = nullptr;
            for (auto &entry : *m_New)
                Extrapolate(&entry.second, &anchorNew, &anchorOld);
            anchorNew = anchorOld = nullptr;
            for (auto it = m_New->rbegin(); it != m_New->rend(); ++it)
                Extrapolate(&it->second, &anchorNew, &anchorOld);
        }
    }

private:
    bool Pair(Label *newLabel, const Label &oldLabel)
    {
        if (newLabel->index >= 0 || oldLabel.index < 0 || m_UsedOld.count(oldLabel.rva))
            return false;
        newLabel->index = oldLabel.index;
        m_UsedOld.insert(oldLabel.rva);
        m_Partner[newLabel->rva] = oldLabel.rva;
        return true;
    }

    void Extrapolate(Label *label, const Label **anchorNew, const Label **anchorOld)
    {
        if (label->index < 0 && *anchorNew) {
            const uint32_t candidate = (*anchorOld)->rva + (label->rva - (*anchorNew)->rva);
            const auto old = m_Old.find(candidate);
            if (old != m_Old.end())
                Pair(label, old->second);
        }
        if (label->index >= 0) {
            const auto partner = m_Partner.find(label->rva);
            if (partner != m_Partner.end()) {
                *anchorNew = label;
                *anchorOld = &m_Old.at(partner->second);
            }
        }
    }

    const LabelMap &m_Old;
    LabelMap *m_New;
    std::unordered_set<uint32_t> m_UsedOld;
    std::unordered_map<uint32_t, uint32_t> m_Partner;
};

} // namespace

void MatchLabelIndexes(const DisassembledProgram &oldProgram, DisassembledProgram *newProgram)
{
    ClearLabelIndexes(newProgram);
    TokenView oldView;
    TokenView newView;
    BuildTokenView(oldProgram, &oldView);
    BuildTokenView(*newProgram, &newView);

    MapMatcher abs32(oldProgram.abs32_labels(), &newProgram->abs32_labels());
    MapMatcher rel32(oldProgram.rel32_labels(), &newProgram->rel32_labels());
    for (bool wide : {true, false}) {
        abs32.MatchByFingerprints(Fingerprints(oldView, oldView.abs32, oldView.abs32Targets, wide),
                                  Fingerprints(newView, newView.abs32, newView.abs32Targets, wide));
        rel32.MatchByFingerprints(Fingerprints(oldView, oldView.rel32, oldView.rel32Targets, wide),
                                  Fingerprints(newView, newView.rel32, newView.rel32Targets, wide));
    }
    abs32.MatchByNeighbours();
    rel32.MatchByNeighbours();
    FillLabelIndexes(newProgram);
}

} // namespace ovpatch
