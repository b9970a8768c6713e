// The parser of Jet SQL (ANSI-89, as DAO speaks it). Private to the layer.
#pragma once

#include <string_view>
#include <vector>

#include "ast.h"
#include "lexer.h"

namespace jetsql::detail {

// The whole text as one expression. Throws SyntaxError (phrase and position); the caller
// decides whether that is DAO's 3075 or 3077.
NodePtr ParseExpression(std::string_view text);

// "a, b DESC": the list of a Sort property or an ORDER BY clause. Throws SqlError: 3075 for a
// malformed expression (quoting it), 3138 for a malformed list.
std::vector<OrderItem> ParseOrderList(std::string_view text);

// A SELECT statement with optional PARAMETERS declarations and trailing ";". Throws SqlError
// with DAO's number for the clause at fault (3075 quoting an expression, 3131 FROM, 3138
// ORDER BY, 3141 select list, 3142 text after the end, 3145 WHERE, 3129/3219 not a SELECT).
SelectStatement ParseSelect(std::string_view sql);

// Whether a word is reserved in Jet SQL (a name that is one must be written in brackets).
bool IsReservedWord(std::string_view word);

// The text of a node as it was written.
std::string_view NodeText(std::string_view source, const Node& node);

}  // namespace jetsql::detail
