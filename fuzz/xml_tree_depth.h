// The deepest element nesting of a parsed TinyXML tree, found without
// recursion. Shared by the fuzz target and the markup walk tests.
#ifndef QV_FUZZ_XML_TREE_DEPTH_H
#define QV_FUZZ_XML_TREE_DEPTH_H

#include <cstddef>
#include <utility>
#include <vector>

#include <tinyxml.h>

inline size_t XmlTreeDepth(const TiXmlNode* top)
{
    size_t deepest = 0;
    std::vector<std::pair<const TiXmlNode*, size_t>> stack;
    for (const TiXmlNode* n = top->FirstChild(); n; n = n->NextSibling())
        stack.push_back({n, 1});
    while (!stack.empty())
    {
        const TiXmlNode* n = stack.back().first;
        const size_t depth = stack.back().second;
        stack.pop_back();
        if (n->Type() != TiXmlNode::TINYXML_ELEMENT)
            continue;
        if (depth > deepest)
            deepest = depth;
        for (const TiXmlNode* c = n->FirstChild(); c; c = c->NextSibling())
            stack.push_back({c, depth + 1});
    }
    return deepest;
}

#endif // QV_FUZZ_XML_TREE_DEPTH_H
