#include "sender/mail/ContentAgentRegistry.h"

CContentAgentRegistry& CContentAgentRegistry::Instance()
{
    static CContentAgentRegistry s_registry;
    return s_registry;
}

CContentAgentRegistry::~CContentAgentRegistry()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_lstAgents.clear();
}

void CContentAgentRegistry::RegisterAgent(CContentAgent* pAgent)
{
    if (pAgent == nullptr)
        return;
    const std::lock_guard<std::mutex> guard(m_lock);
    m_lstAgents.emplace_back(pAgent);
}

CContentAgent* CContentAgentRegistry::FindAgent(int nType)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& agent : m_lstAgents)
        if (agent->Matches(nType))
            return agent.get();
    return nullptr;
}
