/* This is a generated file, edit the .stub.php file instead.
 * Stub hash: fa5defc08f180ef484effd2ed700a20b4296365b */

ZEND_BEGIN_ARG_WITH_RETURN_OBJ_INFO_EX(arginfo_Vantoro_output_handler, 0, 0, Vantoro\\OutputHandler, 0)
	ZEND_ARG_TYPE_INFO_WITH_DEFAULT_VALUE(0, options, IS_ARRAY, 0, "[]")
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_Vantoro_protect_page, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, page, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO_WITH_DEFAULT_VALUE(0, options, IS_ARRAY, 0, "[]")
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_Vantoro_protect_content, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, article, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO_WITH_DEFAULT_VALUE(0, options, IS_ARRAY, 0, "[]")
ZEND_END_ARG_INFO()

#define arginfo_Vantoro_protect arginfo_Vantoro_protect_page

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_Vantoro_stylesheet, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, siteKey, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_Vantoro_is_protected, 0, 1, _IS_BOOL, 0)
	ZEND_ARG_TYPE_INFO(0, page, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_Vantoro_detect_charset, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, page, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO_WITH_DEFAULT_VALUE(0, transport, IS_STRING, 1, "null")
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_Vantoro_trace, 0, 2, IS_ARRAY, 1)
	ZEND_ARG_TYPE_INFO(0, text, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, siteKey, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_MASK_EX(arginfo_Vantoro_new_mark_id, 0, 0, MAY_BE_LONG|MAY_BE_STRING)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_MASK_EX(arginfo_Vantoro_last_mark_id, 0, 0, MAY_BE_LONG|MAY_BE_STRING|MAY_BE_NULL)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_INFO_EX(arginfo_class_Vantoro_Marquel___construct, 0, 0, 0)
	ZEND_ARG_TYPE_INFO_WITH_DEFAULT_VALUE(0, options, IS_ARRAY, 0, "[]")
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_Load, 0, 0, IS_VOID, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_onstartpage, 0, 0, IS_VOID, 0)
	ZEND_ARG_TYPE_INFO_WITH_DEFAULT_VALUE(0, passedscriptingcontext, IS_MIXED, 0, "null")
ZEND_END_ARG_INFO()

#define arginfo_class_Vantoro_Marquel_onendpage arginfo_class_Vantoro_Marquel_Load

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_Rndstr, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, str, IS_STRING, 1)
ZEND_END_ARG_INFO()

#define arginfo_class_Vantoro_Marquel_RndContent arginfo_class_Vantoro_Marquel_Rndstr

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_protect, 0, 1, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, page, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_setDecoyKind, 0, 1, IS_VOID, 0)
	ZEND_ARG_TYPE_INFO(0, kind, IS_LONG, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_getDecoyKind, 0, 0, IS_LONG, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_setCharset, 0, 1, IS_VOID, 0)
	ZEND_ARG_TYPE_INFO(0, charset, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_getCharset, 0, 0, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_Marquel_replay, 0, 1, IS_VOID, 0)
	ZEND_ARG_TYPE_INFO(0, values, IS_ARRAY, 0)
ZEND_END_ARG_INFO()

#define arginfo_class_Vantoro_OutputHandler___construct arginfo_class_Vantoro_Marquel___construct

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_class_Vantoro_OutputHandler___invoke, 0, 2, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, buffer, IS_STRING, 0)
	ZEND_ARG_TYPE_INFO(0, phase, IS_LONG, 0)
ZEND_END_ARG_INFO()

#define arginfo_class_Vantoro_OutputHandler_replay arginfo_class_Vantoro_Marquel_replay

#define arginfo_class_Vantoro_OutputHandler_markId arginfo_Vantoro_last_mark_id


ZEND_FUNCTION(Vantoro_output_handler);
ZEND_FUNCTION(Vantoro_protect_page);
ZEND_FUNCTION(Vantoro_protect_content);
ZEND_FUNCTION(Vantoro_protect);
ZEND_FUNCTION(Vantoro_stylesheet);
ZEND_FUNCTION(Vantoro_is_protected);
ZEND_FUNCTION(Vantoro_detect_charset);
ZEND_FUNCTION(Vantoro_trace);
ZEND_FUNCTION(Vantoro_new_mark_id);
ZEND_FUNCTION(Vantoro_last_mark_id);
ZEND_METHOD(Vantoro_Marquel, __construct);
ZEND_METHOD(Vantoro_Marquel, Load);
ZEND_METHOD(Vantoro_Marquel, onstartpage);
ZEND_METHOD(Vantoro_Marquel, onendpage);
ZEND_METHOD(Vantoro_Marquel, Rndstr);
ZEND_METHOD(Vantoro_Marquel, RndContent);
ZEND_METHOD(Vantoro_Marquel, protect);
ZEND_METHOD(Vantoro_Marquel, setDecoyKind);
ZEND_METHOD(Vantoro_Marquel, getDecoyKind);
ZEND_METHOD(Vantoro_Marquel, setCharset);
ZEND_METHOD(Vantoro_Marquel, getCharset);
ZEND_METHOD(Vantoro_Marquel, replay);
ZEND_METHOD(Vantoro_OutputHandler, __construct);
ZEND_METHOD(Vantoro_OutputHandler, __invoke);
ZEND_METHOD(Vantoro_OutputHandler, replay);
ZEND_METHOD(Vantoro_OutputHandler, markId);


static const zend_function_entry ext_functions[] = {
	ZEND_NS_FALIAS("Vantoro", output_handler, Vantoro_output_handler, arginfo_Vantoro_output_handler)
	ZEND_NS_FALIAS("Vantoro", protect_page, Vantoro_protect_page, arginfo_Vantoro_protect_page)
	ZEND_NS_FALIAS("Vantoro", protect_content, Vantoro_protect_content, arginfo_Vantoro_protect_content)
	ZEND_NS_FALIAS("Vantoro", protect, Vantoro_protect, arginfo_Vantoro_protect)
	ZEND_NS_FALIAS("Vantoro", stylesheet, Vantoro_stylesheet, arginfo_Vantoro_stylesheet)
	ZEND_NS_FALIAS("Vantoro", is_protected, Vantoro_is_protected, arginfo_Vantoro_is_protected)
	ZEND_NS_FALIAS("Vantoro", detect_charset, Vantoro_detect_charset, arginfo_Vantoro_detect_charset)
	ZEND_NS_FALIAS("Vantoro", trace, Vantoro_trace, arginfo_Vantoro_trace)
	ZEND_NS_FALIAS("Vantoro", new_mark_id, Vantoro_new_mark_id, arginfo_Vantoro_new_mark_id)
	ZEND_NS_FALIAS("Vantoro", last_mark_id, Vantoro_last_mark_id, arginfo_Vantoro_last_mark_id)
	ZEND_FE_END
};


static const zend_function_entry class_Vantoro_Exception_methods[] = {
	ZEND_FE_END
};


static const zend_function_entry class_Vantoro_Marquel_methods[] = {
	ZEND_ME(Vantoro_Marquel, __construct, arginfo_class_Vantoro_Marquel___construct, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, Load, arginfo_class_Vantoro_Marquel_Load, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, onstartpage, arginfo_class_Vantoro_Marquel_onstartpage, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, onendpage, arginfo_class_Vantoro_Marquel_onendpage, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, Rndstr, arginfo_class_Vantoro_Marquel_Rndstr, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, RndContent, arginfo_class_Vantoro_Marquel_RndContent, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, protect, arginfo_class_Vantoro_Marquel_protect, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, setDecoyKind, arginfo_class_Vantoro_Marquel_setDecoyKind, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, getDecoyKind, arginfo_class_Vantoro_Marquel_getDecoyKind, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, setCharset, arginfo_class_Vantoro_Marquel_setCharset, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, getCharset, arginfo_class_Vantoro_Marquel_getCharset, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_Marquel, replay, arginfo_class_Vantoro_Marquel_replay, ZEND_ACC_PUBLIC)
	ZEND_FE_END
};


static const zend_function_entry class_Vantoro_OutputHandler_methods[] = {
	ZEND_ME(Vantoro_OutputHandler, __construct, arginfo_class_Vantoro_OutputHandler___construct, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_OutputHandler, __invoke, arginfo_class_Vantoro_OutputHandler___invoke, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_OutputHandler, replay, arginfo_class_Vantoro_OutputHandler_replay, ZEND_ACC_PUBLIC)
	ZEND_ME(Vantoro_OutputHandler, markId, arginfo_class_Vantoro_OutputHandler_markId, ZEND_ACC_PUBLIC)
	ZEND_FE_END
};

static void register_vantoro_symbols(int module_number)
{
	REGISTER_STRING_CONSTANT("Vantoro\\VERSION", VANTORO_VERSION_STRING, CONST_PERSISTENT);
	REGISTER_LONG_CONSTANT("Vantoro\\DECOY_COPYRIGHT", VANTORO_DECOY_COPYRIGHT, CONST_PERSISTENT);
	REGISTER_LONG_CONSTANT("Vantoro\\DECOY_RANDOM", VANTORO_DECOY_RANDOM, CONST_PERSISTENT);
	REGISTER_LONG_CONSTANT("Vantoro\\DECOY_BOTH", VANTORO_DECOY_BOTH, CONST_PERSISTENT);
	REGISTER_LONG_CONSTANT("Vantoro\\HIDE_STYLE", VANTORO_HIDE_STYLE, CONST_PERSISTENT);
	REGISTER_LONG_CONSTANT("Vantoro\\HIDE_CLASS", VANTORO_HIDE_CLASS, CONST_PERSISTENT);
	REGISTER_LONG_CONSTANT("Vantoro\\HIDE_LAYERED", VANTORO_HIDE_LAYERED, CONST_PERSISTENT);
}

static zend_class_entry *register_class_Vantoro_Exception(zend_class_entry *class_entry_RuntimeException)
{
	zend_class_entry ce, *class_entry;

	INIT_NS_CLASS_ENTRY(ce, "Vantoro", "Exception", class_Vantoro_Exception_methods);
	class_entry = zend_register_internal_class_ex(&ce, class_entry_RuntimeException);

	zval const_NULL_ARGUMENT_value;
	ZVAL_LONG(&const_NULL_ARGUMENT_value, VANTORO_NULL_ARGUMENT);
	zend_string *const_NULL_ARGUMENT_name = zend_string_init_interned("NULL_ARGUMENT", sizeof("NULL_ARGUMENT") - 1, 1);
	zend_declare_class_constant_ex(class_entry, const_NULL_ARGUMENT_name, &const_NULL_ARGUMENT_value, ZEND_ACC_PUBLIC, NULL);
	zend_string_release(const_NULL_ARGUMENT_name);

	zval const_INVALID_ARGUMENT_value;
	ZVAL_LONG(&const_INVALID_ARGUMENT_value, VANTORO_INVALID_ARGUMENT);
	zend_string *const_INVALID_ARGUMENT_name = zend_string_init_interned("INVALID_ARGUMENT", sizeof("INVALID_ARGUMENT") - 1, 1);
	zend_declare_class_constant_ex(class_entry, const_INVALID_ARGUMENT_name, &const_INVALID_ARGUMENT_value, ZEND_ACC_PUBLIC, NULL);
	zend_string_release(const_INVALID_ARGUMENT_name);

	zval const_UNKNOWN_CHARSET_value;
	ZVAL_LONG(&const_UNKNOWN_CHARSET_value, VANTORO_UNKNOWN_CHARSET);
	zend_string *const_UNKNOWN_CHARSET_name = zend_string_init_interned("UNKNOWN_CHARSET", sizeof("UNKNOWN_CHARSET") - 1, 1);
	zend_declare_class_constant_ex(class_entry, const_UNKNOWN_CHARSET_name, &const_UNKNOWN_CHARSET_value, ZEND_ACC_PUBLIC, NULL);
	zend_string_release(const_UNKNOWN_CHARSET_name);

	zval const_REPLAY_EXHAUSTED_value;
	ZVAL_LONG(&const_REPLAY_EXHAUSTED_value, VANTORO_REPLAY_EXHAUSTED);
	zend_string *const_REPLAY_EXHAUSTED_name = zend_string_init_interned("REPLAY_EXHAUSTED", sizeof("REPLAY_EXHAUSTED") - 1, 1);
	zend_declare_class_constant_ex(class_entry, const_REPLAY_EXHAUSTED_name, &const_REPLAY_EXHAUSTED_value, ZEND_ACC_PUBLIC, NULL);
	zend_string_release(const_REPLAY_EXHAUSTED_name);

	zval const_OUT_OF_MEMORY_value;
	ZVAL_LONG(&const_OUT_OF_MEMORY_value, VANTORO_OUT_OF_MEMORY);
	zend_string *const_OUT_OF_MEMORY_name = zend_string_init_interned("OUT_OF_MEMORY", sizeof("OUT_OF_MEMORY") - 1, 1);
	zend_declare_class_constant_ex(class_entry, const_OUT_OF_MEMORY_name, &const_OUT_OF_MEMORY_value, ZEND_ACC_PUBLIC, NULL);
	zend_string_release(const_OUT_OF_MEMORY_name);

	zval const_INTERNAL_ERROR_value;
	ZVAL_LONG(&const_INTERNAL_ERROR_value, VANTORO_INTERNAL_ERROR);
	zend_string *const_INTERNAL_ERROR_name = zend_string_init_interned("INTERNAL_ERROR", sizeof("INTERNAL_ERROR") - 1, 1);
	zend_declare_class_constant_ex(class_entry, const_INTERNAL_ERROR_name, &const_INTERNAL_ERROR_value, ZEND_ACC_PUBLIC, NULL);
	zend_string_release(const_INTERNAL_ERROR_name);

	return class_entry;
}

static zend_class_entry *register_class_Vantoro_Marquel(void)
{
	zend_class_entry ce, *class_entry;

	INIT_NS_CLASS_ENTRY(ce, "Vantoro", "Marquel", class_Vantoro_Marquel_methods);
	class_entry = zend_register_internal_class_ex(&ce, NULL);
	class_entry->ce_flags |= ZEND_ACC_FINAL|ZEND_ACC_NOT_SERIALIZABLE;

	zval property_CopyRStr_default_value;
	ZVAL_EMPTY_STRING(&property_CopyRStr_default_value);
	zend_string *property_CopyRStr_name = zend_string_init("CopyRStr", sizeof("CopyRStr") - 1, 1);
	zend_declare_typed_property(class_entry, property_CopyRStr_name, &property_CopyRStr_default_value, ZEND_ACC_PUBLIC, NULL, (zend_type) ZEND_TYPE_INIT_MASK(MAY_BE_STRING));
	zend_string_release(property_CopyRStr_name);

	return class_entry;
}

static zend_class_entry *register_class_Vantoro_OutputHandler(void)
{
	zend_class_entry ce, *class_entry;

	INIT_NS_CLASS_ENTRY(ce, "Vantoro", "OutputHandler", class_Vantoro_OutputHandler_methods);
	class_entry = zend_register_internal_class_ex(&ce, NULL);
	class_entry->ce_flags |= ZEND_ACC_FINAL|ZEND_ACC_NOT_SERIALIZABLE;

	return class_entry;
}
