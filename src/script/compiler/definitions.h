/* definitions.h -- what the formula compiler asks of the script definitions
** and the name tables: finding a name among the script's own items, columns
** and parameters, the special names (library arguments, named lists,
** fundamental fields), and reaching the formula that a reference node names.
**
** Implemented by the definitions module.  Until it is linked in,
** definitions_default.cpp answers "not found" for every name (remove that
** file when the real module arrives).
*/
#pragma once
#include <cstdint>

struct FormulaNode;
struct FormulaSlot;
struct FormulaItem;

/* The SectionId of the list where name was found (6 Data, 19 TestData, 27
** StratData, 17 Library, or section itself for one of its columns), else 0.
** With a node: the node takes the reference row, category and index. */
uint32_t FindScriptDefinition(const char *name, FormulaNode *node, uint32_t section, const char *nameSpace);
/* 1 when name is a Parameters item; the node takes row 4, category 5, the
** parameter's index and its default value as constant. */
int FindParameterName(const char *name, FormulaNode *node, const char *nameSpace);
/* "Arg1" .. "Arg9": category 4, row 16, index N. */
int ResolveArgName(const char *name, FormulaNode *node);
/* A constituency series of the constituency list: category 9, row 247. */
int ResolveNamedListItem(const char *name, FormulaNode *node);
/* "F.field" or "F.field.date": category 15, row 84 or 85. */
int ResolveFundamentalField(const char *name, FormulaNode *node);

/* The FormulaItem at index of the Data, TestData, StratData or Library list
** (by SectionId), null when there is none. */
FormulaItem *DefinitionItem(uint32_t section, uint32_t index);
/* The formula that a reference node names: rows 183-185 and 248-254 by the
** node's index in the matching list, and the library call 392; null when the
** row is not a reference or the index lies beyond its list. */
FormulaSlot *ReferencedFormula(uint32_t row, uint32_t index);
