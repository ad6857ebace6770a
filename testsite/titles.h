#pragma once

// The titles of the local repository site's synthetic corpus. Header-only so
// that tests can compute the title (and so the expected file name) of any
// item without asking the site.
//
// Every title is a pure function of the item id. The kinds, in order of
// precedence (the first rule that applies wins):
//   id % 20 == 19   Duplicate: the same title as item id - 1 (19/18, 39/38 ...)
//   id % 50 == 17   VeryLong: more than 125 Chinese characters, nothing else
//   id % 11 == 3    TwoLines: written over two lines in the result markup; the
//                   displayed title joins them with one space
//   id % 9 == 4     ForbiddenChars: holds characters file names may not hold
//                   (\ / : * ? " < > |)
//   id % 5 == 0     English
//   even id         Chinese
//   odd id          Mixed (Chinese with English words)
// Titles are distinct apart from the Duplicate pairs (for ids below 2048).

#include <QString>
#include <QStringList>

namespace lumen::testsite
{

enum class TitleKind { Chinese, Mixed, English, ForbiddenChars, TwoLines, VeryLong, Duplicate };

namespace detail
{

inline const QStringList &topicsCn()
{
    static const QStringList list = {
        QStringLiteral("量子计算"), QStringLiteral("深度学习"), QStringLiteral("城市交通"),
        QStringLiteral("水稻育种"), QStringLiteral("碳中和"),   QStringLiteral("古代汉语"),
        QStringLiteral("区块链"),   QStringLiteral("气候变化"), QStringLiteral("肿瘤免疫"),
        QStringLiteral("乡村振兴"), QStringLiteral("数字经济"), QStringLiteral("新能源汽车"),
        QStringLiteral("中医药"),   QStringLiteral("海洋生态"), QStringLiteral("人工智能"),
        QStringLiteral("高等教育")};
    return list;
}

inline const QStringList &topicsEn()
{
    static const QStringList list = {QStringLiteral("Quantum Computing"),
                                     QStringLiteral("Deep Learning"),
                                     QStringLiteral("Urban Traffic"),
                                     QStringLiteral("Rice Breeding"),
                                     QStringLiteral("Carbon Neutrality"),
                                     QStringLiteral("Classical Chinese"),
                                     QStringLiteral("Blockchain"),
                                     QStringLiteral("Climate Change"),
                                     QStringLiteral("Tumour Immunology"),
                                     QStringLiteral("Rural Revitalisation"),
                                     QStringLiteral("the Digital Economy"),
                                     QStringLiteral("New Energy Vehicles"),
                                     QStringLiteral("Chinese Medicine"),
                                     QStringLiteral("Marine Ecology"),
                                     QStringLiteral("Artificial Intelligence"),
                                     QStringLiteral("Higher Education")};
    return list;
}

inline const QStringList &aspectsCn()
{
    static const QStringList list = {
        QStringLiteral("理论框架"), QStringLiteral("实证分析"), QStringLiteral("发展趋势"),
        QStringLiteral("关键技术"), QStringLiteral("影响因素"), QStringLiteral("评价体系"),
        QStringLiteral("优化方法"), QStringLiteral("风险防控"), QStringLiteral("政策建议"),
        QStringLiteral("比较研究"), QStringLiteral("应用前景"), QStringLiteral("演化机制"),
        QStringLiteral("实验研究"), QStringLiteral("数值模拟"), QStringLiteral("案例分析"),
        QStringLiteral("综合评述")};
    return list;
}

inline const QStringList &aspectsEn()
{
    static const QStringList list = {QStringLiteral("A Theoretical Framework for"),
                                     QStringLiteral("An Empirical Analysis of"),
                                     QStringLiteral("Development Trends in"),
                                     QStringLiteral("Key Technologies of"),
                                     QStringLiteral("Factors Shaping"),
                                     QStringLiteral("Evaluating"),
                                     QStringLiteral("Optimisation Methods for"),
                                     QStringLiteral("Risk Control in"),
                                     QStringLiteral("Policy Advice on"),
                                     QStringLiteral("A Comparative Study of"),
                                     QStringLiteral("Prospects of"),
                                     QStringLiteral("How"),
                                     QStringLiteral("Experiments in"),
                                     QStringLiteral("Simulating"),
                                     QStringLiteral("Case Studies in"),
                                     QStringLiteral("A Review of")};
    return list;
}

inline const QStringList &formsCn()
{
    static const QStringList list = {QStringLiteral("研究"),     QStringLiteral("探讨"),
                                     QStringLiteral("初探"),     QStringLiteral("新论"),
                                     QStringLiteral("再思考"),   QStringLiteral("若干问题"),
                                     QStringLiteral("路径选择"), QStringLiteral("模型构建")};
    return list;
}

inline const QStringList &formsEn()
{
    static const QStringList list = {QStringLiteral("Evidence from China"),
                                     QStringLiteral("A Case Study"),
                                     QStringLiteral("Methods and Practice"),
                                     QStringLiteral("New Perspectives"),
                                     QStringLiteral("Revisited"),
                                     QStringLiteral("Open Problems"),
                                     QStringLiteral("Paths and Choices"),
                                     QStringLiteral("Building a Model")};
    return list;
}

// Mixed radix over the id keeps the plain titles distinct below 2048.
inline int topicIndex(int id)
{
    return id % 16;
}
inline int aspectIndex(int id)
{
    return (id / 16) % 16;
}
inline int formIndex(int id)
{
    return (id / 256) % 8;
}

inline QString chineseTitle(int id)
{
    return topicsCn().at(topicIndex(id)) + QStringLiteral("的") + aspectsCn().at(aspectIndex(id)) +
           formsCn().at(formIndex(id));
}

inline QString englishTitle(int id)
{
    return aspectsEn().at(aspectIndex(id)) + QLatin1Char(' ') + topicsEn().at(topicIndex(id)) +
           QStringLiteral(" \u2014 ") + formsEn().at(formIndex(id));
}

inline QString mixedTitle(int id)
{
    return QStringLiteral("面向 ") + topicsEn().at(topicIndex(id)) + QStringLiteral(" 的") +
           aspectsCn().at(aspectIndex(id)) + formsCn().at(formIndex(id));
}

inline QString plainTitle(int id)
{
    if (id % 5 == 0)
        return englishTitle(id);
    return id % 2 == 0 ? chineseTitle(id) : mixedTitle(id);
}

} // namespace detail

inline TitleKind titleKindOf(int id)
{
    if (id % 20 == 19)
        return TitleKind::Duplicate;
    if (id % 50 == 17)
        return TitleKind::VeryLong;
    if (id % 11 == 3)
        return TitleKind::TwoLines;
    if (id % 9 == 4)
        return TitleKind::ForbiddenChars;
    if (id % 5 == 0)
        return TitleKind::English;
    return id % 2 == 0 ? TitleKind::Chinese : TitleKind::Mixed;
}

// The separator that a TwoLines title shows as one space and the result
// markup writes as a line break.
inline QString twoLinesSecondPart(int id)
{
    return QStringLiteral("——兼论") + detail::topicsCn().at((id + 5) % 16);
}

// The title as a reader sees it (and as a browser's inner text gives it).
inline QString titleOf(int id)
{
    using namespace detail;
    switch (titleKindOf(id)) {
    case TitleKind::Duplicate:
        return titleOf(id - 1);
    case TitleKind::VeryLong: {
        QString s = chineseTitle(id) + QStringLiteral("兼论");
        for (int i = 0; s.size() < 140; ++i)
            s += topicsCn().at((id + i) % 16) + aspectsCn().at((id / 16 + i) % 16);
        return s + QStringLiteral("研究");
    }
    case TitleKind::TwoLines:
        return plainTitle(id) + QLatin1Char(' ') + twoLinesSecondPart(id);
    case TitleKind::ForbiddenChars:
        switch ((id / 9) % 4) {
        case 0:
            return plainTitle(id) + QStringLiteral(": 问题与对策?");
        case 1:
            return plainTitle(id) + QStringLiteral(" <综述> \"A Review\"");
        case 2:
            return QStringLiteral("C/C++ 与") + plainTitle(id) + QStringLiteral(" | 第*期");
        default:
            return plainTitle(id) + QStringLiteral(" \\ 增刊: 1/2");
        }
    default:
        return plainTitle(id);
    }
}

inline QString titleKindName(TitleKind k)
{
    switch (k) {
    case TitleKind::Chinese:
        return QStringLiteral("Chinese");
    case TitleKind::Mixed:
        return QStringLiteral("Mixed");
    case TitleKind::English:
        return QStringLiteral("English");
    case TitleKind::ForbiddenChars:
        return QStringLiteral("ForbiddenChars");
    case TitleKind::TwoLines:
        return QStringLiteral("TwoLines");
    case TitleKind::VeryLong:
        return QStringLiteral("VeryLong");
    case TitleKind::Duplicate:
        return QStringLiteral("Duplicate");
    }
    return {};
}

} // namespace lumen::testsite
