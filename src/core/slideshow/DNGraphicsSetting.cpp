#include "slideshow/DNGraphicsSetting.h"

#include <utility>

DNGraphicsSetting::DNGraphicsSetting()
    : m_transitions(std::make_shared<const QList<qint64>>())
{ }

std::shared_ptr<DNGraphicsSetting> DNGraphicsSetting::copy() const
{
    auto copied = std::make_shared<DNGraphicsSetting>();
    copied->setInterval(interval());
    copied->setSortby(sortby());
    copied->setAscOrDesc(ascOrDesc());
    copied->setTransitions(transitions());
    return copied;
}

DNGraphicsSetting::Transitions DNGraphicsSetting::transitions() const
{
    const std::lock_guard lock(m_mutex);
    return m_transitions;
}

void DNGraphicsSetting::setTransitions(Transitions transitions)
{
    const std::lock_guard lock(m_mutex);
    m_transitions = std::move(transitions);
}
