#pragma once

#include "sender/mail/ContentAgent.h"

#include <memory>
#include <mutex>
#include <vector>

// The process-wide list of content agents, in the order they were registered. It owns
// them and destroys them at exit. Every operation holds its lock for the whole call.
class CContentAgentRegistry
{
public:
    static CContentAgentRegistry& Instance();

    CContentAgentRegistry() = default;
    CContentAgentRegistry(const CContentAgentRegistry&) = delete;
    CContentAgentRegistry& operator=(const CContentAgentRegistry&) = delete;
    virtual ~CContentAgentRegistry();

    // Takes ownership; a null agent is ignored.
    void RegisterAgent(CContentAgent* pAgent);
    // The earliest registered agent for the type code, or null.
    CContentAgent* FindAgent(int nType);

private:
    std::mutex m_lock;
    std::vector<std::unique_ptr<CContentAgent>> m_lstAgents;
};
